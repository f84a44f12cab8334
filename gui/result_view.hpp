#pragma once
// The end of an export or an import in the window: the report text at the top, and below it a
// sortable list of the pictures (a thumbnail, number, file, format, width × height, bytes, owner;
// after an import also each entry's verdict and whether the picture changed). A double-click
// opens the picture file with the system's program. The dialog scrolls and fits an 800 × 600
// screen.

#include <QDialog>
#include <functional>

#include "app/result_table.hpp"
#include "transfer/result.hpp"

class QPlainTextEdit;
class QTableWidget;

namespace falcet {

class ResultView : public QDialog {
 public:
  using Opener = std::function<void(const QString& path)>;

  // The table's columns, numbered as ResultColumn.
  enum Column { Thumbnail, Number, File, Format, Size, Bytes, Owner, Verdict, Changed };

  // open: how a picture file is opened (the system's default program when empty).
  ResultView(const ResultReport& result, QWidget* parent, Opener open = {});

  [[nodiscard]] QTableWidget* table() const { return m_table; }
  [[nodiscard]] QPlainTextEdit* report() const { return m_report; }

 private:
  void fillRow(int row);

  ResultReport m_result;
  ResultTable m_cells{m_result};
  QPlainTextEdit* m_report = nullptr;
  QTableWidget* m_table = nullptr;
  Opener m_open;
};

// A thumbnail of a picture file no larger than size × size: Qt decodes bmp, ico, cur, gif, jpg
// and png (for icons the largest image); anything else, metafiles included, gets a file icon.
[[nodiscard]] QIcon pictureThumbnail(const QString& path, int size);

}  // namespace falcet
