#include "main_window.hpp"

#include <QApplication>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QUrl>

#include "app/detect.hpp"
#include "app/startup.hpp"
#include "app/texts.hpp"
#include "app/version.hpp"
#include "font_fix_apply.hpp"
#include "icons.hpp"
#include "platform/codepage.hpp"
#include "platform/program_info.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "util/list_value.hpp"

namespace falcet {
namespace {

const char* kSourceFilter =
    "程式檔(*.exe;*.dll;*.ocx)|*.exe;*.dll;*.ocx|VB窗體匯出檔(*.bin)|*.bin|DFM檔(*.dfm)|*.dfm|全部檔案(*.*)|*.*";
const char* kLogFilter = "記錄檔(*.log)|*.log|全部檔案(*.*)|*.*";
const char* kDialogTitle = "選擇原始案";

// Twips to pixels at 96 dpi; Qt scales logical pixels for the screen.
int px(int twips) { return qRound(twips / 15.0); }
QRect twipsRect(int left, int top, int width, int height) {
  return QRect(px(left), px(top), px(width), px(height));
}

QString fromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

// A label that reports clicks; the group `a` uses it for the version text and the links.
class ClickLabel : public QLabel {
 public:
  ClickLabel(const QString& text, QWidget* parent, std::function<void()> onClick)
      : QLabel(text, parent), m_onClick(std::move(onClick)) {}

 protected:
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton && rect().contains(e->position().toPoint())) m_onClick();
    QLabel::mouseReleaseEvent(e);
  }

 private:
  std::function<void()> m_onClick;
};

// The design font of the window and its controls.
QFont designFont() {
  QFont f(QStringLiteral("新細明體"));
  f.setPointSizeF(9);
  return f;
}

}  // namespace

主窗體::主窗體(Session& session, const FontFixSettings& fonts, OpenDialog& dialog, MessageSink& sink,
             UrlOpener openUrl, QString productName)
    : m_session(session),
      m_fonts(fonts),
      m_dialog(dialog),
      m_sink(sink),
      m_openUrl(std::move(openUrl)),
      m_productName(std::move(productName)) {
  setWindowTitle("Quendle");
  setWindowIcon(windowIcon());
  setFont(designFont());
  setProperty(kCharsetProperty, kDesignCharset);
  setFixedSize(px(5550), px(4725));
  setAcceptDrops(true);

  auto label = [&](int index, const QString& text, QWidget* parent, QRect geometry, Qt::Alignment align) {
    auto* l = new ClickLabel(text, parent, [this, index] { a_Click(index); });
    l->setGeometry(geometry);
    l->setAlignment(align | Qt::AlignVCenter);
    l->setFont(designFont());
    l->setProperty(kCharsetProperty, kDesignCharset);
    m_a[index] = l;
    return l;
  };
  auto design = [](QWidget* w) {
    w->setFont(designFont());
    w->setProperty(kCharsetProperty, kDesignCharset);
  };

  label(3, "被處理檔案的格式：", this, twipsRect(360, 280, 1935, 255), Qt::AlignRight);
  m_list = new QComboBox(this);
  m_list->setGeometry(twipsRect(2400, 240, 2415, 300));
  for (std::string_view name : texts::kSourceKindNames) m_list->addItem(fromUtf8(name));
  design(m_list);

  struct Group {
    int index;
    const char* caption;
    int top;
  };
  for (Group g : {Group{0, "圖像檔案匯出", 720}, Group{3, "圖像檔案匯入", 1800}}) {
    auto* frame = new QGroupBox(g.caption, this);
    frame->setGeometry(twipsRect(120, g.top, 5295, 975));
    design(frame);
    m_f[g.index] = frame;
    auto* edit = new QLineEdit(frame);
    edit->setGeometry(twipsRect(120, 400, 3975, 270));
    design(edit);
    m_name[g.index] = edit;
    auto* browse = new QPushButton("…", frame);
    browse->setGeometry(twipsRect(4080, 400, 375, 255));
    design(browse);
    m_browse[g.index] = browse;
    auto* button = new QToolButton(frame);
    button->setGeometry(twipsRect(4560, 220, 615, 615));
    button->setIconSize(QSize(32, 32));
    button->setIcon(g.index == 0 ? exportIcon() : importIcon());
    button->setToolTip(g.index == 0 ? "匯出圖像" : "匯入圖像");
    design(button);
    (g.index == 0 ? m_export : m_import) = button;
    const int index = g.index;
    connect(edit, &QLineEdit::textChanged, this, [this, index] { 檔名_Change(index); });
    connect(browse, &QPushButton::clicked, this, [this, index] { 瀏覽_Click(index); });
  }
  connect(m_export, &QToolButton::clicked, this, [this] { 窗體匯出_Click(); });
  connect(m_import, &QToolButton::clicked, this, [this] { 窗體匯入_Click(); });
  connect(m_list, &QComboBox::currentIndexChanged, this, [this] { 被處理檔案類型_Click(); });

  auto* about = new QGroupBox("關於", this);
  about->setGeometry(twipsRect(120, 2880, 5295, 1695));
  design(about);
  m_f[1] = about;
  QLabel* version = label(0, "Quendle 0.90 版", about, twipsRect(240, 360, 4815, 255), Qt::AlignHCenter);
  QFont vf(QStringLiteral("無體"));
  vf.setPointSizeF(10.5);
  vf.setBold(true);
  version->setFont(vf);
  const QCursor hand = handCursor();
  QLabel* home = label(1, QString("我的網頁: ") + kHomePage, about, twipsRect(240, 720, 4815, 255), Qt::AlignHCenter);
  QLabel* forum = label(4, QString("我的論壇: ") + kForum, about, twipsRect(240, 960, 4815, 255), Qt::AlignHCenter);
  QLabel* mail = label(2, QString("我的信箱: ") + kMail, about, twipsRect(240, 1200, 4815, 255), Qt::AlignHCenter);
  for (QLabel* link : {home, forum, mail}) {
    link->setCursor(hand);
    link->setStyleSheet("color: #0645ad;");
  }

  setTabOrder(m_name[0], m_browse[0]);
  setTabOrder(m_browse[0], m_export);
  setTabOrder(m_export, m_name[3]);
  setTabOrder(m_name[3], m_browse[3]);
  setTabOrder(m_browse[3], m_import);
  setTabOrder(m_import, m_list);
  m_name[0]->setFocus();

  Form_Initialize();
  Form_Load();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

QLineEdit* 主窗體::檔名(int index) const { return m_name[index]; }
QPushButton* 主窗體::瀏覽(int index) const { return m_browse[index]; }

void 主窗體::Form_Initialize() { ApplyFontFix(*this, m_fonts); }

void 主窗體::Form_Load() {
  const std::string version =
      versionText(m_productName.toStdString(), kVersionMajor, kVersionMinor, kVersionRevision);
  setWindowTitle(fromUtf8(version) + " （" + kHomeHost + "）");
  m_a[0]->setText(fromUtf8(ReplaceText(version, "&&", "&")));
  m_list->setCurrentIndex(m_session.SourceKind);
  被處理檔案類型_Click();
}

void 主窗體::被處理檔案類型_Click() {
  m_session.SourceKind = static_cast<std::int16_t>(m_list->currentIndex());
}

void 主窗體::檔名_Change(int index) {
  if (index == 0) {
    if (auto kind = DetectSourceKind(m_name[0]->text().toStdString())) {
      if (m_list->currentIndex() != *kind) m_list->setCurrentIndex(*kind);
      else 被處理檔案類型_Click();
    }
  } else if (index == 3) {
    const QString log = m_name[3]->text();
    if (isLogFileName(log.toStdString())) m_name[0]->setText(log.left(log.size() - 8));
  }
}

void 主窗體::瀏覽_Click(int index) {
  if (index < 0 || index > 3) return;
  QString file;
  QString folder;
  const bool source = index == 0;
  if (!m_dialog.ShowOpenDialog(this, file, source ? kSourceFilter : kLogFilter, 1, folder, kDialogTitle)) return;
  if (source) {
    m_name[0]->setText(file);
    m_name[3]->setText(file + ".pic.log");
  } else if (m_name[3]) {
    m_name[3]->setText(file);
  }
}

void 主窗體::窗體匯出_Click() {
  const QString text = m_name[0]->text();
  if (text.isEmpty()) {
    m_sink.show(texts::kEnterFileName, kAppTitle, MessageKind::Error);
    return;
  }
  std::string path = text.toStdString();
  QApplication::setOverrideCursor(Qt::WaitCursor);
  (void)ExportPictures(m_session, path, m_sink);
  QApplication::restoreOverrideCursor();
}

void 主窗體::窗體匯入_Click() {
  const QString text = m_name[3]->text();
  if (!isLogFileName(text.toStdString())) {
    m_sink.show(texts::kFileNameError, kAppTitle, MessageKind::Error);
    return;
  }
  QApplication::setOverrideCursor(Qt::WaitCursor);
  (void)ImportPictures(m_session, text.toStdString(), m_sink);
  QApplication::restoreOverrideCursor();
}

void 主窗體::a_Click(int index) {
  switch (index) {
    case 1: OpenUrl(kHomePage); break;
    case 2: OpenUrl(QString("mailto:") + kMail); break;
    case 4: OpenUrl(kForum); break;
    default: break;
  }
}

void 主窗體::OpenUrl(const QString& address) {
  if (m_openUrl) m_openUrl(address);
  else (void)QDesktopServices::openUrl(QUrl(address));  // nothing is shown when it fails
}

void 主窗體::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile())
    event->acceptProposedAction();
}

void 主窗體::dropEvent(QDropEvent* event) {
  const QString file = event->mimeData()->urls().front().toLocalFile();
  if (isLogFileName(file.toStdString())) {
    m_name[3]->setText(file);
  } else {
    m_name[0]->setText(file);
    m_name[3]->setText(file + ".pic.log");
  }
  event->acceptProposedAction();
}

bool Main(Application& app, const QString& programFolder, MessageSink& sink, FileDialogService& files,
          主窗體::UrlOpener openUrl) {
  IniFile ini(std::filesystem::path(QFile::encodeName(programFolder).toStdString()), "falcet");
  StartupResult r = loadStartupSettings(ini, app.fonts, app.session.pictureKinds);
  if (!r.ok) {
    sink.show(r.message, kAppTitle, MessageKind::Error);
    return false;
  }
  if (!app.window) {
    app.dialog = std::make_unique<OpenDialog>(files, programFolder);
    app.window = std::make_unique<主窗體>(app.session, app.fonts, *app.dialog, sink, std::move(openUrl));
  }
  app.window->show();
  return true;
}

}  // namespace falcet
