#pragma once
// The helper's conversation with its driver on one socket: answering
// requests, sending frames, and ending when the driver goes.

namespace netvane::helper {

// Serves the driver on `channel` (a non-blocking stream socket) until its end
// closes (0) or the stream breaks (1). A hang-up is noticed between any two
// requests and while waiting. Requests are read only while the replies not
// yet taken stay below a fixed mark, and frames only while what waits stays
// below it, so what the helper holds is bounded whatever the driver sends or
// leaves unread.
int Serve(int channel);

}  // namespace netvane::helper
