// Program entry: a minimal window until the main window exists.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setApplicationName("Netvane");
  QWidget w;
  w.setWindowTitle("Netvane");
  w.show();
  app.exec();
  return 0;
}
