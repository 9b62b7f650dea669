#pragma once
// Activity pictures drawn by the program: a ring of eight dots, one of them lit per frame.
#include <QPixmap>

namespace tervalo {

inline constexpr int BusyFrameCount = 8;

// Frame 0..7 (taken modulo 8) as a square picture of the given size.
QPixmap BusyFrame(int frame, int size = 16);

}  // namespace tervalo
