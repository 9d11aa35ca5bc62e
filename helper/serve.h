#pragma once
// The helper's conversation with its driver: answering requests, sending
// frames, and ending when the driver goes.

#include "helper/protocol.h"

namespace netvane::helper {

// Serves the driver, reading requests from `in` and writing messages to `out`
// (non-blocking; one stream socket, or the two pipes or sockets of an SSH
// session), until the driver's end closes (0) or the stream breaks (1). A
// hang-up of either is noticed between any two requests and while waiting.
// Requests are read only while the replies not yet taken stay below a fixed
// mark, and frames only while what waits stays below it, so what the helper
// holds is bounded whatever the driver sends or leaves unread. `connection`
// is the SSH connection the helper runs over, null when there is none.
int Serve(int in, int out, const SshConnection* connection);

}  // namespace netvane::helper
