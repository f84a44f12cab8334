#pragma once
// The open-file dialog (module OpenFile) behind an interface that tests can answer.

#include <QString>
#include <QStringList>
#include <QWidget>
#include <memory>
#include <optional>

class QFileDialog;

namespace falcet {

// Shows a file dialog and returns the chosen path, or nothing when cancelled.
class FileDialogService {
 public:
  virtual ~FileDialogService() = default;
  virtual std::optional<QString> chooseExistingFile(QWidget* owner, const QString& title,
                                                    const QStringList& filters, const QString& selectedFilter,
                                                    const QString& folder) = 0;
};

// The file dialog QtFileDialogService shows, ready to run.
[[nodiscard]] std::unique_ptr<QFileDialog> makeOpenFileDialog(QWidget* owner, const QString& title,
                                                              const QStringList& filters,
                                                              const QString& selectedFilter, const QString& folder);

class QtFileDialogService : public FileDialogService {
 public:
  std::optional<QString> chooseExistingFile(QWidget* owner, const QString& title, const QStringList& filters,
                                            const QString& selectedFilter, const QString& folder) override;
};

// "desc|pattern|desc|pattern" -> Qt's filter list: each description followed by its patterns in
// Qt's form, "desc (*.a *.b)".
[[nodiscard]] QStringList qtFilters(const QString& barSeparated);

class OpenDialog {
 public:
  OpenDialog(FileDialogService& service, QString programFolder)
      : m_service(service), m_programFolder(std::move(programFolder)) {}

  // Shows the dialog (the file must exist; one file). The first dialog of a run, until one is
  // confirmed, opens in the program's folder. On confirm fileName is the chosen path and the
  // result true; on cancel fileName is empty and the result false.
  bool ShowOpenDialog(QWidget* owner, QString& fileName, const QString& filter, int filterIndex,
                      QString& initialFolder, const QString& title);

  [[nodiscard]] bool DialogConfirmedOnce() const { return m_confirmedOnce; }

 private:
  FileDialogService& m_service;
  QString m_programFolder;
  bool m_confirmedOnce = false;
};

}  // namespace falcet
