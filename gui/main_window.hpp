#pragma once
// The program's one window (主窗體) and start-up (module 主模組).

#include <QWidget>
#include <functional>
#include <memory>

#include "app/form_layout.hpp"
#include "app/main_form.hpp"
#include "fontfix/font_fix.hpp"
#include "open_dialog.hpp"
#include "qt_message_sink.hpp"
#include "transfer/session.hpp"

class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;

namespace falcet {

class 主窗體 : public QWidget, private FormView {
 public:
  using UrlOpener = std::function<void(const QString&)>;

  主窗體(Session& session, const FontFixSettings& fonts, OpenDialog& dialog, ResultSink& sink,
         UrlOpener openUrl = {}, QString productName = "Falcet");

  // Event handlers; public so that tests can drive them as the form runtime would.
  void 被處理檔案類型_Click();
  void 檔名_Change(int index);
  void 瀏覽_Click(int index);
  void 窗體匯出_Click();
  void 窗體匯入_Click();
  void a_Click(int index);

  QLineEdit* 檔名(int index) const;
  QComboBox* 被處理檔案類型() const { return m_list; }
  QLabel* a(int index) const { return m_a[index]; }
  QToolButton* 窗體匯出() const { return m_export; }
  QToolButton* 窗體匯入() const { return m_import; }
  QPushButton* 瀏覽(int index) const;

 protected:
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void Form_Initialize();
  void Form_Load();
  // FormView: what the shared form logic asks of this window.
  std::string nameText(int index) const override;
  void setNameText(int index, const std::string& text) override;
  int listSelection() const override;
  void setListSelection(int index) override;
  void setCaption(const std::string& text) override;
  void setLabelText(int index, const std::string& text) override;
  bool chooseFile(std::string& file, std::string_view filter, int filterIndex, std::string_view title) override;
  void openAddress(const std::string& address) override;
  void setBusy(bool busy) override;
  void runWork(std::string_view label, ResultSink& sink, const std::function<void(ResultSink&)>& work) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void createControl(const form::ControlRow& row);
  void setTabOrderFromTable();
  void keepPictureButtonsInsideFrames();
  template <typename W>
  W* widget(form::Control c) const {
    return static_cast<W*>(m_widgets[form::slot(c)]);
  }

  const FontFixSettings& m_fonts;
  OpenDialog& m_dialog;
  UrlOpener m_openUrl;
  QString m_productName;
  MainForm m_form;

  bool m_working = false;  // an export or import runs: the window takes no input
  QWidget* m_widgets[form::kControlCount] = {};
  QLabel* m_a[5] = {};
  QComboBox* m_list = nullptr;
  QLineEdit* m_sourceName = nullptr;
  QLineEdit* m_logName = nullptr;
  QToolButton* m_export = nullptr;
  QToolButton* m_import = nullptr;
};

// Start-up: font settings, picture kinds, then the window (created once, shown modeless).
// On a settings failure shows one message and creates no window; the result is then false.
struct Application {
  Session session;
  FontFixSettings fonts;
  std::unique_ptr<OpenDialog> dialog;
  std::unique_ptr<主窗體> window;
};
bool Main(Application& app, const QString& programFolder, ResultSink& sink, FileDialogService& files,
          主窗體::UrlOpener openUrl = {});

}  // namespace falcet
