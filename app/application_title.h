#pragma once
// The program's name as its windows and boxes carry it in their titles.

namespace netvane {

inline constexpr const char* kApplicationTitle = "Netvane";

}  // namespace netvane
