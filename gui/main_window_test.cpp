// The window on the offscreen platform, driven through its handlers with a scripted file dialog.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <fstream>

#include <QFileDialog>
#include <QGroupBox>
#include <QHeaderView>
#include <QImage>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QTimer>
#include <QElapsedTimer>
#include <QTableWidget>

#include "font_fix_apply.hpp"
#include "open_dialog.hpp"
#include "result_view.hpp"
#include "texts/texts.hpp"
#include "main_window.hpp"
#include "platform/codepage.hpp"

using namespace falcet;

namespace {

class ScriptedDialog : public FileDialogService {
 public:
  std::optional<QString> answer;
  QString lastFolder;
  QStringList lastFilters;
  QString lastSelected;
  QString lastTitle;
  std::optional<QString> chooseExistingFile(QWidget*, const QString& title, const QStringList& filters,
                                            const QString& selected, const QString& folder) override {
    lastTitle = title;
    lastFilters = filters;
    lastSelected = selected;
    lastFolder = folder;
    return answer;
  }
};

class Recorder : public ResultSink {
 public:
  QStringList texts;
  int show(std::string_view text, std::string_view, MessageKind) override {
    texts << QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return kButtonOk;
  }
};

void write(const QString& path, const std::string& text) {
  std::ofstream out(path.toStdString(), std::ios::binary);
  out << text;
}

// One kind, VB's picture blob: "lt\0\0", the length, the picture.
void useVbKind(Session& session) {
  session.pictureKinds.resize(1);
  PictureKind& k = session.pictureKinds[0];
  k.Name = "VB";
  k.FileHandleMark = std::string("lt\0\0", 4);
  k.FilePosFix = 8;
  k.BinFileLenPos = -4;
  k.FileExt = "*";
}

const std::string kFonts =
    "[FontFix]\nAutoFix=1\nOriginFontSize=9\nOriginFontCharset=136\nFixedFontName=Replacement\n"
    "FixedFontSize=12\nFixedFontCharset=1\n";
const std::string kKinds =
    "[Falcet]\n001=VB\n[VB]\nFileHandleMarkHex=6C 74 00 00\nFilePosFix=8\nFileLenPos=0\nBinFileLenPos=-4\n"
    "FileExt=*\nDfmBlockLenPos=-4\nDfmBlockLenFix=1\n";

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

  struct Fixture {
    QTemporaryDir dir;
    Session session;
    FontFixSettings fonts;
    ScriptedDialog files;
    Recorder sink;
    QStringList urls;
    std::unique_ptr<OpenDialog> dialog;
    std::unique_ptr<主窗體> window;
    explicit Fixture(QString product = "Falcet") {
      dialog = std::make_unique<OpenDialog>(files, dir.path());
      window = std::make_unique<主窗體>(session, fonts, *dialog, sink,
                                        [this](const QString& u) { urls << u; }, product);
    }
  };

 private slots:
  // The file dialog's type list shows each label once, with its patterns as the label has them.
  void filterLabelsShownOnce() {
    const auto dialog = makeOpenFileDialog(nullptr, "t", qtFilters(QString::fromUtf8(texts::kSourceFilter)),
                                           QString(), QDir::tempPath());
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    auto* types = dialog->findChild<QComboBox*>("fileTypeCombo");
    QVERIFY(types);
    QCOMPARE(types->itemText(0), QString("程式檔(*.exe;*.dll;*.ocx)"));
    QCOMPARE(types->itemText(3), QString("全部檔案(*.*)"));
  }

  // The result of an export: one row per picture with its thumbnail and facts, sortable by
  // number of bytes, a double-click opens the file; with many pictures it scrolls within 800 × 600.
  void resultViewListsPictures() {
    QTemporaryDir dir;
    const QString bmp = dir.filePath("s.exe.001.bmp"), png = dir.filePath("s.exe.002.png"),
                  wmf = dir.filePath("s.exe.003.wmf");
    QVERIFY(QImage(20, 10, QImage::Format_RGB32).save(bmp));
    QImage big(300, 100, QImage::Format_ARGB32);
    big.fill(Qt::red);
    QVERIFY(big.save(png));
    write(wmf, std::string("\xD7\xCD\xC6\x9A", 4) + std::string(40, '\0'));
    ResultReport r;
    r.text = "記錄檔：\r\n  s.exe.pic.log\r\n匯出完畢！";
    auto row = [](int n, const QString& path, const char* format, std::optional<int> w, std::optional<int> h,
                  std::int64_t bytes, std::optional<std::string> owner) {
      ResultRow x;
      x.number = n;
      x.file = x.path = path.toStdString();
      x.format = format;
      x.width = w;
      x.height = h;
      x.bytes = bytes;
      x.owner = std::move(owner);
      return x;
    };
    r.rows = {row(1, bmp, "bmp", 20, 10, 900, "TForm1.Image1.Picture.Data"), row(2, png, "png", 300, 100, 12000, {}),
              row(3, wmf, "wmf", {}, {}, 44, "Form1")};
    QStringList opened;
    ResultView view(r, nullptr, [&](const QString& p) { opened << p; });
    QTableWidget* t = view.table();
    QCOMPARE(t->rowCount(), 3);
    QCOMPARE(t->columnCount(), 7);
    QCOMPARE(t->horizontalHeaderItem(ResultView::Owner)->text(), QString("擁有者"));
    QCOMPARE(view.report()->toPlainText(), QString("記錄檔：\n  s.exe.pic.log\n匯出完畢！"));
    QCOMPARE(t->item(0, ResultView::Size)->text(), QString("20×10"));
    QCOMPARE(t->item(1, ResultView::Owner)->text(), QString("-"));
    // Thumbnails: decoded pictures are drawn, a metafile gets the file icon.
    const QImage thumb = t->item(1, ResultView::Thumbnail)->icon().pixmap(48, 48).toImage();
    QCOMPARE(QColor(thumb.pixel(24, 24)), QColor(Qt::red));
    QVERIFY(!t->item(2, ResultView::Thumbnail)->icon().isNull());
    t->sortByColumn(ResultView::Bytes, Qt::DescendingOrder);
    QCOMPARE(t->item(0, ResultView::Number)->text(), QString("2"));
    QCOMPARE(t->item(2, ResultView::Number)->text(), QString("3"));
    emit t->cellDoubleClicked(1, ResultView::Format);
    QCOMPARE(opened, QStringList{bmp});

    r.rows.resize(72, r.rows[0]);
    ResultView many(r, nullptr);
    QVERIFY(many.width() <= 800 && many.height() <= 600);
  }

  // After an import each row says what became of the entry, the changed ones marked.
  void resultViewMarksChangedPictures() {
    ResultReport r;
    r.operation = ResultReport::Operation::Import;
    r.text = "a.bmp  圖像成功匯入！\r\n匯入完畢！";
    ResultRow changed, same, refused;
    changed.number = 1, changed.file = changed.path = "a.bmp", changed.imported = true, changed.changed = true;
    changed.verdict = "圖像成功匯入！";
    same.number = 2, same.file = same.path = "b.bmp", same.imported = true, same.verdict = "圖像成功匯入！";
    refused.number = 3, refused.file = refused.path = "c.png", refused.verdict = "格式不符，此圖像未匯入！";
    r.rows = {changed, same, refused};
    ResultView view(r, nullptr);
    QTableWidget* t = view.table();
    QCOMPARE(t->columnCount(), 9);
    QCOMPARE(t->item(0, ResultView::Changed)->text(), QString("已變更"));
    QCOMPARE(t->item(1, ResultView::Changed)->text(), QString());
    QCOMPARE(t->item(2, ResultView::Verdict)->text(), QString("格式不符，此圖像未匯入！"));
    t->sortByColumn(ResultView::Changed, Qt::DescendingOrder);
    QCOMPARE(t->item(0, ResultView::Number)->text(), QString("1"));
  }

  // The picture buttons lie inside their frames' borders, under the captions.
  void pictureButtonsInsideFrames() {
    Fixture f;
    for (QToolButton* b : {f.window->窗體匯出(), f.window->窗體匯入()}) {
      auto* frame = qobject_cast<QGroupBox*>(b->parentWidget());
      QVERIFY(frame);
      QVERIFY2(frame->contentsRect().contains(b->geometry()), qPrintable(frame->title()));
    }
  }

  void startState() {
    Fixture f;
    QCOMPARE(f.window->被處理檔案類型()->currentText(), QString("VB EXE 檔"));
    QCOMPARE(sourceKindIndex(f.session.SourceKind), 0);
    QCOMPARE(f.window->windowTitle(), QString("Falcet 0.91 版 （falcet.example.org）"));
    QCOMPARE(f.window->a(0)->text(), QString("Falcet 0.91 版"));
    QCOMPARE(f.window->被處理檔案類型()->count(), 4);
    QCOMPARE(f.window->size(), QSize(370, 315));
  }

  void ampersandInProductName() {
    Fixture f("A&B");
    QCOMPARE(f.window->windowTitle(), QString("A&B 0.91 版 （falcet.example.org）"));
    QCOMPARE(f.window->a(0)->text(), QString("A&B 0.91 版"));
  }

  void browseSourceSetsKindAndLog() {
    Fixture f;
    f.files.answer = "/a/b.dfm";
    f.window->瀏覽_Click(0);
    QCOMPARE(f.files.lastFolder, f.dir.path());  // the first dialog opens in the program's folder
    QCOMPARE(f.files.lastTitle, QString("選擇原始案"));
    QCOMPARE(f.files.lastFilters.size(), 4);
    QCOMPARE(f.files.lastSelected, f.files.lastFilters.front());
    QVERIFY(f.files.lastSelected.startsWith("程式檔(*.exe;*.dll;*.ocx)"));
    QCOMPARE(f.window->檔名(0)->text(), QString("/a/b.dfm"));
    QCOMPARE(f.window->檔名(3)->text(), QString("/a/b.dfm.pic.log"));
    QCOMPARE(sourceKindIndex(f.session.SourceKind), 3);
    QVERIFY(f.dialog->DialogConfirmedOnce());
    f.window->瀏覽_Click(3);
    QCOMPARE(f.files.lastFolder, QString());  // after a confirmed dialog, the system chooses
    QCOMPARE(f.files.lastFilters.size(), 2);
  }

  void cancelChangesNothing() {
    Fixture f;
    f.window->檔名(0)->setText("/x/y.bin");
    f.window->瀏覽_Click(0);
    QCOMPARE(f.window->檔名(0)->text(), QString("/x/y.bin"));
    QVERIFY(!f.dialog->DialogConfirmedOnce());
    f.window->瀏覽_Click(0);
    QCOMPARE(f.files.lastFolder, f.dir.path());
  }

  void logBoxDrivesSourceBox() {
    Fixture f;
    f.window->檔名(3)->setText("/a/b.DFM.PIC.LOG");
    QCOMPARE(f.window->檔名(0)->text(), QString("/a/b.DFM"));
    QCOMPARE(sourceKindIndex(f.session.SourceKind), 3);
    f.window->檔名(0)->setText("keep");
    f.window->檔名(3)->setText(".pic.log");
    QCOMPARE(f.window->檔名(0)->text(), QString("keep"));
    f.window->窗體匯入_Click();
    QCOMPARE(f.sink.texts, QStringList{"檔名錯誤！請檢查！"});
  }

  void undetectedNameKeepsSelection() {
    Fixture f;
    f.window->被處理檔案類型()->setCurrentIndex(1);
    f.window->檔名(0)->setText("a.exe ");
    f.window->檔名(0)->setText("a.dll");
    QCOMPARE(sourceKindIndex(f.session.SourceKind), 1);
  }

  void emptyExportAsksForName() {
    Fixture f;
    f.window->窗體匯出_Click();
    QCOMPARE(f.sink.texts, QStringList{"請輸入檔名"});
  }

  void labelClicks() {
    Fixture f;
    QTest::mouseClick(f.window->a(0), Qt::LeftButton);
    QTest::mouseClick(f.window->a(3), Qt::LeftButton);
    QVERIFY(f.urls.isEmpty());
    for (int i : {1, 2, 4}) QTest::mouseClick(f.window->a(i), Qt::LeftButton);
    QCOMPARE(f.urls, (QStringList{"https://falcet.example.org/", "mailto:falcet@example.org",
                                   "https://forum.falcet.example.org/"}));
  }

  void exportAndImportFromTheWindow() {
    Fixture f;
    useVbKind(f.session);
    const QString source = f.dir.filePath("form.bin");
    // A whole 1 x 1 GIF (29 bytes): import checks that a picture is complete.
    const std::string gif("GIF89a\x01\0\x01\0\0\0\0\x2c\0\0\0\0\x01\0\x01\0\0\x02\x02\x44\x01\0\x3b", 29);
    write(source, std::string("\x25\0\0\0lt\0\0\x1d\0\0\0", 12) + gif + "tail");
    f.window->檔名(0)->setText(source);
    f.window->窗體匯出()->click();
    QCOMPARE(f.sink.texts.size(), 1);
    QVERIFY(f.sink.texts[0].endsWith("匯出完畢！"));
    QVERIFY(QFile::exists(source + ".001.gif"));
    f.window->檔名(3)->setText(source + ".pic.log");
    f.window->窗體匯入()->click();
    QCOMPARE(f.sink.texts.size(), 2);
    QVERIFY(f.sink.texts[1].endsWith("  與原始檔中的圖像相同，未變更。\r\n匯入完成！"));
    QVERIFY(QFile::exists(source + ".bak"));
  }

  // An export of 20,000 pictures runs off the window's thread: the window keeps handling events,
  // a progress dialog comes up, a click on the import button meanwhile does nothing, and the
  // result is shown once, at the end.
  void longExportShowsProgressAndTakesNoOtherCommand() {
    Fixture f;
    useVbKind(f.session);
    const QString source = f.dir.filePath("many.bin");
    std::string bytes;
    for (int i = 0; i < 20000; ++i) bytes += std::string("lt\0\0\x08\0\0\0", 8) + "picture" + static_cast<char>(i % 200);
    write(source, bytes);
    f.window->檔名(0)->setText(source);
    int ticks = 0;
    bool progressShown = false;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] {
      ++ticks;
      for (auto* d : f.window->findChildren<QProgressDialog*>()) progressShown = progressShown || d->isVisible();
      QTest::mouseClick(f.window->窗體匯入(), Qt::LeftButton);  // dropped while the export runs
    });
    timer.start(20);
    QElapsedTimer clock;
    clock.start();
    f.window->窗體匯出()->click();
    timer.stop();
    QCOMPARE(f.sink.texts.size(), 1);
    QVERIFY(f.sink.texts[0].endsWith("匯出完畢！"));
    QVERIFY(QFile::exists(source + ".20000.bin"));
    // The window's own events ran while the export did (a blocked window counts none), and the
    // progress dialog came up once the export had taken half a second.
    const qint64 took = clock.elapsed();
    qInfo("the export took %lld ms, %d timer events", static_cast<long long>(took), ticks);
    if (took > 200) QVERIFY(ticks > 0);
    if (took > 800) QVERIFY(progressShown);
  }

  void fontFixReachesMatchingControls() {
    FontFixSettings s;
    s.AutoFix = true;
    s.OriginFontSize = 90000;
    s.OriginFontCharset = 136;
    s.FixedFontName = "Replacement";
    s.FixedFontSize = 120000;
    s.FixedFontCharset = 1;
    {
      Fixture f;
      f.fonts = s;
      ApplyFontFix(*f.window, f.fonts);
      QCOMPARE(f.window->檔名(0)->font().family(), QString("Replacement"));  // inside a group box
      QCOMPARE(f.window->檔名(0)->font().pointSizeF(), 12.0);
      QCOMPARE(f.window->檔名(0)->property(kCharsetProperty).toInt(), 1);
      QCOMPARE(f.window->被處理檔案類型()->font().family(), QString("Replacement"));
      QCOMPARE(f.window->a(0)->font().pointSizeF(), 10.5);  // not the design size: unchanged
      QCOMPARE(f.window->font().pointSizeF(), 9.0);          // the window's own font is only tested
    }
    {
      Fixture f;
      f.fonts = s;
      f.fonts.AutoFix = false;
      ApplyFontFix(*f.window, f.fonts);
      QCOMPARE(f.window->檔名(0)->font().pointSizeF(), 9.0);
    }
    {
      Fixture f;
      f.fonts = s;
      f.fonts.OriginFontCharset = 0;  // the window does not match: nothing changes
      f.window->檔名(0)->setProperty(kCharsetProperty, 0);
      ApplyFontFix(*f.window, f.fonts);
      QCOMPARE(f.window->檔名(0)->font().pointSizeF(), 9.0);
    }
  }

  void startupWithoutKindsShowsOneMessage() {
    QTemporaryDir dir;
    write(dir.filePath("Falcet.ini"), kFonts + "[Falcet]\n");
    Application app;
    Recorder sink;
    ScriptedDialog files;
    QVERIFY(!Main(app, dir.path(), sink, files));
    QCOMPARE(sink.texts, QStringList{"起始化錯誤！請檢查 ini 檔案的設置後重新執行。"});
    QVERIFY(!app.window);
  }

  void startupWithFontErrorNamesTheKey() {
    QTemporaryDir dir;
    write(dir.filePath("Falcet.ini"), kKinds);
    Application app;
    Recorder sink;
    ScriptedDialog files;
    QVERIFY(!Main(app, dir.path(), sink, files));
    QCOMPARE(sink.texts.size(), 1);
    QVERIFY(sink.texts[0].contains("AutoFix"));
    QVERIFY(!app.window);
  }

  void startupWithoutSettingsFileNamesIt() {
    QTemporaryDir dir;
    Application app;
    Recorder sink;
    ScriptedDialog files;
    QVERIFY(!Main(app, dir.path(), sink, files));
    QCOMPARE(sink.texts.size(), 1);
    QVERIFY(sink.texts[0].contains("找不到設定檔"));
    QVERIFY(sink.texts[0].contains("Falcet.ini"));
    QVERIFY(!app.window);
  }

  void startupShowsTheWindow() {
    QTemporaryDir dir;
    write(dir.filePath("Falcet.ini"), kFonts + kKinds);
    Application app;
    Recorder sink;
    ScriptedDialog files;
    QVERIFY(Main(app, dir.path(), sink, files));
    QVERIFY(sink.texts.isEmpty());
    QVERIFY(app.window && app.window->isVisible());
    QCOMPARE(app.window->檔名(0)->font().family(), QString("Replacement"));
  }
};

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
