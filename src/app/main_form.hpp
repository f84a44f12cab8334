#pragma once
// The main window's behaviour (主窗體), written once for every toolkit: the handlers of the form
// over a small view interface. A window (Qt on Linux, Win32 on Windows) builds its controls from
// form_layout.hpp, implements FormView, and calls the handlers from its events; tests drive the
// handlers headless through a fake view.
//
// Nested events: a view raises the form's change handlers at once when its text boxes' text or the
// list's selection is set, from code as from the user (as the form runtime does), so a handler that
// sets a text runs the text's change handler before it goes on.

#include <functional>
#include <string>
#include <string_view>

#include "transfer/result.hpp"
#include "transfer/session.hpp"

namespace falcet {

class FormView {
 public:
  virtual ~FormView() = default;
  // The text of 檔名(index) (index 0: the source, 3: the log), UTF-8.
  [[nodiscard]] virtual std::string nameText(int index) const = 0;
  // Sets it; when the text changes the view calls MainForm::檔名_Change(index) at once.
  virtual void setNameText(int index, const std::string& text) = 0;
  [[nodiscard]] virtual int listSelection() const = 0;
  // Selects a list item; when the selection changes the view calls 被處理檔案類型_Click at once.
  virtual void setListSelection(int index) = 0;
  virtual void setCaption(const std::string& text) = 0;
  // The caption of a label of the group `a`, with "&&" for a shown "&" as the form runtime takes it.
  virtual void setLabelText(int index, const std::string& text) = 0;
  // The open-file dialog (the file must exist): true and the chosen path, or false when cancelled.
  // filter is "description|patterns|..." and filterIndex 1-based.
  [[nodiscard]] virtual bool chooseFile(std::string& file, std::string_view filter, int filterIndex,
                                        std::string_view title) = 0;
  // Opens an address with the system's handler; nothing is shown when that fails.
  virtual void openAddress(const std::string& address) = 0;
  // The wait cursor while export or import runs.
  virtual void setBusy(bool busy) = 0;
  // Runs an export or an import (work, given the sink it reports to) and returns when it ended.
  // A window runs it off its own thread and meanwhile keeps repainting, takes no other command,
  // and shows label over a progress bar once the work has taken half a second; every call the
  // work makes on the sink runs on the window's thread, the work waiting. This default runs it
  // here, with the wait cursor.
  virtual void runWork(std::string_view label, ResultSink& sink, const std::function<void(ResultSink&)>& work) {
    (void)label;
    setBusy(true);
    work(sink);
    setBusy(false);
  }
};

class MainForm {
 public:
  MainForm(Session& session, ResultSink& sink, FormView& view, std::string productName);

  void Form_Load();
  void 被處理檔案類型_Click();
  void 檔名_Change(int index);
  void 瀏覽_Click(int index);
  void 窗體匯出_Click();
  void 窗體匯入_Click();
  void a_Click(int index);
  // A file dropped on the window: a log goes to the log box, anything else is the source.
  void fileDropped(const std::string& file);

  // The version text: product name, blank, major "." minor, revision letter, " 版".
  [[nodiscard]] std::string versionText() const;

 private:
  // Selects a list item and runs the selection handler, whether or not the item changed.
  void selectKind(int index);

  Session& m_session;
  ResultSink& m_sink;
  FormView& m_view;
  std::string m_productName;
};

}  // namespace falcet
