#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>

#include "main_window.hpp"
#include "platform/codepage.hpp"

int main(int argc, char** argv) {
  QApplication qapp(argc, argv);
  QApplication::setApplicationName("Falcet");
  // Qt's own texts (file dialog, buttons, context menus) in Traditional Chinese, as the window.
  QTranslator qtTexts;
  if (qtTexts.load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  falcet::initLocale();
  falcet::QtMessageSink sink;
  falcet::QtFileDialogService files;
  falcet::Application app;
  if (!falcet::Main(app, QApplication::applicationDirPath(), sink, files)) return 1;
  return QApplication::exec();
}
