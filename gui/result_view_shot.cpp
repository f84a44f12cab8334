// Draws the result view of a real export or import to a PNG, for looking at it without a display:
//   falcet_result_view_shot SETTINGS.ini SOURCE OUT.png [import]
// The export (and with "import", an import of what was exported, the first picture edited) runs
// as in the window; the view is drawn at the size it opens with.

#include <QApplication>
#include <QLibraryInfo>
#include <QTranslator>
#include <cstdio>
#include <fstream>

#include "platform/codepage.hpp"
#include "result_view.hpp"
#include "settings/ini_file.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/picture_kind.hpp"
#include "app/detect.hpp"

namespace {

class ShotSink : public falcet::ResultSink {
 public:
  explicit ShotSink(QString out) : m_out(std::move(out)) {}
  int show(std::string_view text, std::string_view, falcet::MessageKind) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fputc('\n', stderr);
    return falcet::kButtonOk;
  }
  void showResult(const falcet::ResultReport& result) override {
    falcet::ResultView view(result, nullptr);
    view.show();
    QApplication::processEvents();
    saved = view.grab().save(m_out);
    std::printf("%dx%d\n", view.width(), view.height());
  }
  [[nodiscard]] bool listsPictures() const override { return true; }
  bool saved = false;

 private:
  QString m_out;
};

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fputs("usage: falcet_result_view_shot SETTINGS.ini SOURCE OUT.png [import]\n", stderr);
    return 2;
  }
  QTranslator qtTexts;
  if (qtTexts.load(QStringLiteral("qtbase_zh_TW"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    QApplication::installTranslator(&qtTexts);
  falcet::initLocale();
  falcet::IniFile ini(".", "shot");
  ini.useFile(argv[1]);
  falcet::Session session;
  if (!falcet::LoadPictureKinds(ini, session.pictureKinds).ok()) return 1;
  std::string source = argv[2];
  session.SourceKind = falcet::DetectSourceKind(source).value_or(falcet::SourceKindValue::VbExe);
  const bool import = argc > 4 && std::string_view(argv[4]) == "import";
  ShotSink sink(import ? QString() : QString::fromLocal8Bit(argv[3]));
  if (!falcet::ExportPictures(session, source, sink)) return 1;
  if (!import) return sink.saved ? 0 : 1;
  // Edit the first picture: one byte of its pixels.
  const std::string first = falcet::pictureFileName(argv[2], 1, "ico");
  std::fstream f(first, std::ios::in | std::ios::out | std::ios::binary);
  f.seekp(-70, std::ios::end);
  f.put('\x7F');
  f.close();
  ShotSink importSink(QString::fromLocal8Bit(argv[3]));
  (void)falcet::ImportPictures(session, std::string(argv[2]) + ".pic.log", importSink);
  return importSink.saved ? 0 : 1;
}
