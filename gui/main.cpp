#include <QApplication>

#include "main_window.hpp"
#include "platform/codepage.hpp"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName("Falcet");
  falcet::initLocale();
  falcet::QtMessageSink sink;
  falcet::QtFileDialogService files;
  falcet::Application app;
  if (!falcet::Main(app, QApplication::applicationDirPath(), sink, files)) return 1;
  return QApplication::exec();
}
