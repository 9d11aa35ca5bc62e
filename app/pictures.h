#pragma once
// The program's own pictures, drawn in code: the application icon and the
// pictures of the main window's image buttons.

#include <QIcon>
#include <QPixmap>

namespace netvane {

// Red ball and blue ring on a green ground.
QPixmap AppIconPixmap(int size = 32);
QIcon AppIcon();  // the same picture at 16, 32 and 48 pixels

QPixmap StartPicture(int size = 28);  // green right-pointing triangle on dark red
QPixmap PausePicture(int size = 28);  // two blue upright bars on dark red
QPixmap StopPicture(int size = 28);   // red ball on dark red
QPixmap SavePicture(int size = 28);   // a floppy disk on light violet

}  // namespace netvane
