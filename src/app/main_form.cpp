#include "app/main_form.hpp"

#include <cstdint>

#include "app/detect.hpp"
#include "app/form_layout.hpp"
#include "app/version.hpp"
#include "platform/program_info.hpp"
#include "texts/texts.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "util/list_value.hpp"

namespace falcet {

MainForm::MainForm(Session& session, ResultSink& sink, FormView& view, std::string productName)
    : m_session(session), m_sink(sink), m_view(view), m_productName(std::move(productName)) {}

std::string MainForm::versionText() const {
  return falcet::versionText(m_productName, kVersionMajor, kVersionMinor, kVersionRevision);
}

void MainForm::Form_Load() {
  const std::string version = versionText();
  m_view.setCaption(version + " （" + std::string(texts::kHomeHost) + "）");
  m_view.setLabelText(0, ReplaceText(version, "&&", "&"));
  selectKind(sourceKindIndex(m_session.SourceKind));
}

void MainForm::selectKind(int index) {
  if (m_view.listSelection() != index) m_view.setListSelection(index);  // raises the Click
  else 被處理檔案類型_Click();
}

void MainForm::被處理檔案類型_Click() {
  // The list's index is a 16-bit value, sign-extended.
  const auto index = static_cast<std::int16_t>(m_view.listSelection());
  m_session.SourceKind = sourceKindFromIndex(index).value_or(SourceKindValue::VbExe);
}

void MainForm::檔名_Change(int index) {
  if (index == 0) {
    const std::string source = m_view.nameText(0);
    if (auto kind = DetectSourceKind(source)) selectKind(sourceKindIndex(*kind));
    // A source typed, pasted or dropped brings its log, as the browse button does; a log box that
    // already names this source's log (as the user spelled it) stays, so the pair never loops.
    const std::string log = m_view.nameText(3);
    const bool logOfSource = isLogFileName(log) && log.substr(0, log.size() - 8) == source;
    if (!source.empty() && !logOfSource) m_view.setNameText(3, source + ".pic.log");
  } else if (index == 3) {
    const std::string log = m_view.nameText(3);
    if (isLogFileName(log)) m_view.setNameText(0, log.substr(0, log.size() - 8));
  }
}

void MainForm::瀏覽_Click(int index) {
  if (index < 0 || index > 3) return;
  const bool source = index == 0;
  std::string file;
  if (!m_view.chooseFile(file, source ? texts::kSourceFilter : texts::kLogFilter, 1, texts::kOpenDialogTitle))
    return;
  if (source) {
    m_view.setNameText(0, file);
    m_view.setNameText(3, file + ".pic.log");
  } else {
    m_view.setNameText(3, file);
  }
}

void MainForm::窗體匯出_Click() {
  std::string path = m_view.nameText(0);
  if (path.empty()) {
    m_sink.show(texts::kEnterFileName, kAppTitle, MessageKind::Error);
    return;
  }
  m_view.runWork(texts::kExportProgress, m_sink, [&](ResultSink& sink) {
    (void)ExportPictures(m_session, path, sink, ExportReading{}, EditedPictures::Ask);
  });
}

void MainForm::窗體匯入_Click() {
  const std::string log = m_view.nameText(3);
  if (log.empty()) {
    m_sink.show(texts::kEnterLogName, kAppTitle, MessageKind::Error);
    return;
  }
  if (!isLogFileName(log)) {
    m_sink.show(texts::kFileNameError, kAppTitle, MessageKind::Error);
    return;
  }
  m_view.runWork(texts::kImportProgress, m_sink, [&](ResultSink& sink) {
    (void)ImportPictures(m_session, log, sink, SignedPrograms::Ask);
  });
}

void MainForm::a_Click(int index) {
  const std::string address = form::linkAddress(index);
  if (!address.empty()) m_view.openAddress(address);
}

void MainForm::fileDropped(const std::string& file) {
  if (isLogFileName(file)) {
    m_view.setNameText(3, file);
  } else {
    m_view.setNameText(0, file);
    m_view.setNameText(3, file + ".pic.log");
  }
}

}  // namespace falcet
