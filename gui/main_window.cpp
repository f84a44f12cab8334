#include "main_window.hpp"

#include <QApplication>
#include <algorithm>
#include <thread>
#include <QComboBox>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QProgressDialog>
#include <QEventLoop>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>
#include <QUrl>

#include "app/startup.hpp"
#include "app/form_layout.hpp"
#include "app/version.hpp"
#include "font_fix_apply.hpp"
#include "icons.hpp"
#include "texts/texts.hpp"

namespace falcet {
namespace {

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
QFont qFont(const form::DesignFont& d) {
  QFont f(fromUtf8(d.face));
  f.setPointSizeF(d.points);
  f.setBold(d.bold);
  return f;
}

QFont designFont() { return qFont(form::kDesignFont); }

}  // namespace

主窗體::主窗體(Session& session, const FontFixSettings& fonts, OpenDialog& dialog, ResultSink& sink,
             UrlOpener openUrl, QString productName)
    : m_fonts(fonts),
      m_dialog(dialog),
      m_openUrl(std::move(openUrl)),
      m_productName(std::move(productName)),
      m_form(session, sink, *this, m_productName.toStdString()) {
  setWindowTitle(fromUtf8(texts::kDesignCaption));
  setWindowIcon(windowIcon());
  setFont(designFont());
  setProperty(kCharsetProperty, kDesignCharset);
  setFixedSize(px(form::kClientWidthTwips), px(form::kClientHeightTwips));
  setAcceptDrops(true);

  m_widgets[form::slot(form::Control::Window)] = this;
  for (const form::ControlRow& row : form::kControls) createControl(row);

  m_list = widget<QComboBox>(form::Control::KindList);
  for (std::string_view name : texts::kSourceKindNames) m_list->addItem(fromUtf8(name));
  m_sourceName = widget<QLineEdit>(form::Control::SourceName);
  m_logName = widget<QLineEdit>(form::Control::LogName);
  m_export = widget<QToolButton>(form::Control::ExportButton);
  m_import = widget<QToolButton>(form::Control::ImportButton);
  m_export->setIcon(exportIcon());
  m_export->setToolTip(fromUtf8(texts::kExportTip));
  m_import->setIcon(importIcon());
  m_import->setToolTip(fromUtf8(texts::kImportTip));
  m_a[0]->setFont(qFont(form::kVersionFont));

  connect(m_sourceName, &QLineEdit::textChanged, this, [this] { 檔名_Change(0); });
  connect(m_logName, &QLineEdit::textChanged, this, [this] { 檔名_Change(3); });
  connect(widget<QPushButton>(form::Control::SourceBrowse), &QPushButton::clicked, this, [this] { 瀏覽_Click(0); });
  connect(widget<QPushButton>(form::Control::LogBrowse), &QPushButton::clicked, this, [this] { 瀏覽_Click(3); });
  connect(m_export, &QToolButton::clicked, this, [this] { 窗體匯出_Click(); });
  connect(m_import, &QToolButton::clicked, this, [this] { 窗體匯入_Click(); });
  connect(m_list, &QComboBox::currentIndexChanged, this, [this] { 被處理檔案類型_Click(); });
  setTabOrderFromTable();
  keepPictureButtonsInsideFrames();
  m_sourceName->setFocus();

  Form_Initialize();
  Form_Load();
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void 主窗體::createControl(const form::ControlRow& row) {
  QWidget* parent = m_widgets[form::slot(row.parent)];
  const QString caption = fromUtf8(row.caption);
  QWidget* w = nullptr;
  switch (row.type) {
    case form::ControlType::Label:
    case form::ControlType::LinkLabel: {
      const int index = row.index;
      const QString text = row.type == form::ControlType::LinkLabel ? fromUtf8(form::linkCaption(index)) : caption;
      auto* l = new ClickLabel(text, parent, [this, index] { a_Click(index); });
      const Qt::Alignment align = row.align == form::Align::Right    ? Qt::AlignRight
                                  : row.align == form::Align::Center ? Qt::AlignHCenter
                                                                      : Qt::AlignLeft;
      l->setAlignment(align | Qt::AlignVCenter);
      if (row.type == form::ControlType::LinkLabel) {
        l->setCursor(handCursor());
        l->setStyleSheet("color: #0645ad;");
      }
      m_a[index] = l;
      w = l;
      break;
    }
    case form::ControlType::DropDown: w = new QComboBox(parent); break;
    case form::ControlType::Frame: {
      w = new QGroupBox(caption, parent);
      break;
    }
    case form::ControlType::TextBox: w = new QLineEdit(parent); break;
    case form::ControlType::Button: w = new QPushButton(caption, parent); break;
    case form::ControlType::PictureButton: {
      auto* button = new QToolButton(parent);
      button->setIconSize(QSize(32, 32));
      w = button;
      break;
    }
  }
  w->setGeometry(twipsRect(row.left, row.top, row.width, row.height));
  w->setFont(designFont());
  w->setProperty(kCharsetProperty, kDesignCharset);
  m_widgets[form::slot(row.id)] = w;
}

// The form runtime draws a frame's caption on its border; a Qt group box puts its border below the
// caption, so a picture button placed near the top of a frame would stick out above the border.
// Such a button moves down (or shrinks) to lie within the frame's inside.
void 主窗體::keepPictureButtonsInsideFrames() {
  for (const form::ControlRow& row : form::kControls) {
    if (row.type != form::ControlType::PictureButton) continue;
    QWidget* button = m_widgets[form::slot(row.id)];
    auto* frame = qobject_cast<QGroupBox*>(button->parentWidget());
    if (!frame) continue;
    frame->ensurePolished();
    const QRect inside = frame->contentsRect().adjusted(0, 1, 0, -1);
    QRect r = button->geometry();
    if (r.height() > inside.height()) r.setHeight(inside.height());
    if (r.top() < inside.top()) r.moveTop(inside.top() + (inside.height() - r.height()) / 2);
    if (r.bottom() > inside.bottom()) r.moveBottom(inside.bottom());
    button->setGeometry(r);
  }
}

void 主窗體::setTabOrderFromTable() {
  std::vector<const form::ControlRow*> order;
  for (const form::ControlRow& row : form::kControls)
    if (row.type != form::ControlType::Label && row.type != form::ControlType::LinkLabel &&
        row.type != form::ControlType::Frame)
      order.push_back(&row);
  std::sort(order.begin(), order.end(), [](auto* x, auto* y) { return x->tab < y->tab; });
  for (std::size_t i = 1; i < order.size(); ++i)
    setTabOrder(m_widgets[form::slot(order[i - 1]->id)], m_widgets[form::slot(order[i]->id)]);
}

QLineEdit* 主窗體::檔名(int index) const {
  return index == 0 ? m_sourceName : index == 3 ? m_logName : nullptr;
}
QPushButton* 主窗體::瀏覽(int index) const {
  const form::Control c = index == 0 ? form::Control::SourceBrowse : form::Control::LogBrowse;
  return index == 0 || index == 3 ? static_cast<QPushButton*>(m_widgets[form::slot(c)]) : nullptr;
}

void 主窗體::Form_Initialize() { ApplyFontFix(*this, m_fonts); }

// The form's behaviour lives in MainForm; these forward the events to it.
void 主窗體::Form_Load() { m_form.Form_Load(); }
void 主窗體::被處理檔案類型_Click() { m_form.被處理檔案類型_Click(); }
void 主窗體::檔名_Change(int index) { m_form.檔名_Change(index); }
void 主窗體::瀏覽_Click(int index) { m_form.瀏覽_Click(index); }
void 主窗體::窗體匯出_Click() { m_form.窗體匯出_Click(); }
void 主窗體::窗體匯入_Click() { m_form.窗體匯入_Click(); }
void 主窗體::a_Click(int index) { m_form.a_Click(index); }

std::string 主窗體::nameText(int index) const {
  const QLineEdit* box = 檔名(index);
  return box ? box->text().toStdString() : std::string();
}

void 主窗體::setNameText(int index, const std::string& text) {
  if (QLineEdit* box = 檔名(index)) box->setText(fromUtf8(text));  // textChanged runs 檔名_Change
}

int 主窗體::listSelection() const { return m_list->currentIndex(); }
void 主窗體::setListSelection(int index) { m_list->setCurrentIndex(index); }
void 主窗體::setCaption(const std::string& text) { setWindowTitle(fromUtf8(text)); }
// The form runtime shows "&&" as one "&"; a Qt label without a buddy shows the text as it is.
void 主窗體::setLabelText(int index, const std::string& text) {
  m_a[index]->setText(fromUtf8(text).replace("&&", "&"));
}

bool 主窗體::chooseFile(std::string& file, std::string_view filter, int filterIndex, std::string_view title) {
  QString chosen, folder;
  if (!m_dialog.ShowOpenDialog(this, chosen, fromUtf8(filter), filterIndex, folder, fromUtf8(title)))
    return false;
  file = chosen.toStdString();
  return true;
}

void 主窗體::openAddress(const std::string& address) {
  const QString a = fromUtf8(address);
  if (m_openUrl) m_openUrl(a);
  else (void)QDesktopServices::openUrl(QUrl(a));  // nothing is shown when it fails
}

void 主窗體::setBusy(bool busy) {
  if (busy) QApplication::setOverrideCursor(Qt::WaitCursor);
  else QApplication::restoreOverrideCursor();
}

namespace {

// The work's sink: messages and results on the window's thread while the work waits (the
// progress dialog hidden first); progress to the dialog without waiting, dropped once the
// dialog is gone.
class ThreadedSink : public WindowThreadSink {
 public:
  ThreadedSink(ResultSink& sink, QWidget* window, QProgressDialog* dialog)
      : WindowThreadSink(sink), m_window(window), m_dialog(dialog) {}
  void progress(std::int64_t done, std::int64_t total) override {
    QPointer<QProgressDialog> dialog = m_dialog;
    const int value = total > 0 ? static_cast<int>(done * 1000 / total) : 0;
    QMetaObject::invokeMethod(m_dialog, [dialog, value] {
      if (dialog && !dialog->wasCanceled()) dialog->setValue(value);  // shows it after half a second
    }, Qt::QueuedConnection);
  }

 private:
  void onWindowThread(const std::function<void()>& call) override {
    QMetaObject::invokeMethod(m_window, [&] {
      m_dialog->cancel();  // hidden, so that the message is the one thing shown
      call();
    }, Qt::BlockingQueuedConnection);
  }
  QWidget* m_window;
  QProgressDialog* m_dialog;
};

}  // namespace

void 主窗體::runWork(std::string_view label, ResultSink& sink, const std::function<void(ResultSink&)>& work) {
  QProgressDialog dialog(fromUtf8(label), QString(), 0, 1000, this);
  dialog.setWindowTitle(fromUtf8(kAppTitle));
  dialog.setWindowModality(Qt::WindowModal);
  dialog.setMinimumDuration(500);
  dialog.setAutoReset(false);
  dialog.setAutoClose(false);
  ThreadedSink threaded(sink, this, &dialog);
  setBusy(true);
  m_working = true;
  qApp->installEventFilter(this);
  QEventLoop loop;
  std::thread worker([&] {
    work(threaded);
    QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
  });
  loop.exec();
  worker.join();
  qApp->removeEventFilter(this);
  m_working = false;
  setBusy(false);
}

// While work runs, input to this window and its controls is dropped (the progress dialog and
// the messages are windows of their own and take it).
bool 主窗體::eventFilter(QObject* watched, QEvent* event) {
  if (!m_working) return false;
  switch (event->type()) {
    case QEvent::MouseButtonPress: case QEvent::MouseButtonRelease: case QEvent::MouseButtonDblClick:
    case QEvent::KeyPress: case QEvent::KeyRelease: case QEvent::Drop: case QEvent::Shortcut:
    case QEvent::Wheel: {
      auto* w = qobject_cast<QWidget*>(watched);
      return w && (w == this || isAncestorOf(w));
    }
    default: return false;
  }
}

void 主窗體::dragEnterEvent(QDragEnterEvent* event) {
  if (event->mimeData()->hasUrls() && event->mimeData()->urls().front().isLocalFile())
    event->acceptProposedAction();
}

void 主窗體::dropEvent(QDropEvent* event) {
  m_form.fileDropped(event->mimeData()->urls().front().toLocalFile().toStdString());
  event->acceptProposedAction();
}

bool Main(Application& app, const QString& programFolder, ResultSink& sink, FileDialogService& files,
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
