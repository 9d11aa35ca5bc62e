#pragma once
// The main window's title says what filters are on, where it moves no control
// of the layout: "Netvane", then the host a Start is connecting to, then the capture filter, then the display
// filter with how many frames it shows, e.g.
//   Netvane - capture filter: tcp port 80 - filter: host 10.0.0.1 - 12 of 345 frames

class TForm1;

namespace netvane {

void ShowWindowTitle(TForm1* window);

}  // namespace netvane
