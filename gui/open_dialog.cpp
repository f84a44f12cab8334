#include "open_dialog.hpp"

#include <QFileDialog>

namespace falcet {

std::unique_ptr<QFileDialog> makeOpenFileDialog(QWidget* owner, const QString& title, const QStringList& filters,
                                                const QString& selectedFilter, const QString& folder) {
  auto dialog = std::make_unique<QFileDialog>(owner, title, folder);
  dialog->setFileMode(QFileDialog::ExistingFile);
  dialog->setAcceptMode(QFileDialog::AcceptOpen);
  // The labels already show their patterns ("程式檔(*.exe;*.dll;*.ocx)"): shown once.
  dialog->setOption(QFileDialog::HideNameFilterDetails);
  dialog->setNameFilters(filters);
  dialog->selectNameFilter(selectedFilter);
  return dialog;
}

std::optional<QString> QtFileDialogService::chooseExistingFile(QWidget* owner, const QString& title,
                                                               const QStringList& filters,
                                                               const QString& selectedFilter,
                                                               const QString& folder) {
  const auto dialog = makeOpenFileDialog(owner, title, filters, selectedFilter, folder);
  if (dialog->exec() != QDialog::Accepted || dialog->selectedFiles().isEmpty()) return std::nullopt;
  return dialog->selectedFiles().front();
}

QStringList qtFilters(const QString& barSeparated) {
  const QStringList parts = barSeparated.split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    out << parts[i] + " (" + patterns + ")";
  }
  return out;
}

bool OpenDialog::ShowOpenDialog(QWidget* owner, QString& fileName, const QString& filter, int filterIndex,
                                QString& initialFolder, const QString& title) {
  if (!m_confirmedOnce && initialFolder.isEmpty()) initialFolder = m_programFolder;
  const QStringList filters = qtFilters(filter);
  const QString selected = filterIndex >= 1 && filterIndex <= filters.size() ? filters[filterIndex - 1] : QString();
  auto chosen = m_service.chooseExistingFile(owner, title, filters, selected, initialFolder);
  if (!chosen) {
    fileName.clear();
    return false;
  }
  fileName = *chosen;
  m_confirmedOnce = true;
  return true;
}

}  // namespace falcet
