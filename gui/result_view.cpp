#include "result_view.hpp"

#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QFileInfo>
#include <QHeaderView>
#include <QImageReader>
#include <QLabel>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "texts/texts.hpp"

namespace falcet {
namespace {

QString fromUtf8(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }

constexpr int kThumbnail = 48;
constexpr int kPathRole = Qt::UserRole + 1;

QColor qColor(Rgb c) { return QColor(c.red, c.green, c.blue); }

// Sorts as the result table orders its rows.
class SortItem : public QTableWidgetItem {
 public:
  SortItem(const ResultTable& table, std::size_t row, ResultColumn column)
      : QTableWidgetItem(fromUtf8(table.cellText(row, column))), m_table(table), m_row(row), m_column(column) {
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    if (ResultTable::alignsRight(column)) setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    const auto* o = dynamic_cast<const SortItem*>(&other);
    if (!o) return QTableWidgetItem::operator<(other);
    return m_table.compare(m_row, o->m_row, m_column, [](const std::string& a, const std::string& b) {
      return QString::localeAwareCompare(fromUtf8(a), fromUtf8(b));
    }) < 0;
  }

 private:
  const ResultTable& m_table;
  std::size_t m_row;
  ResultColumn m_column;
};

}  // namespace

QIcon pictureThumbnail(const QString& path, int size) {
  QImageReader reader(path);
  reader.setDecideFormatFromContent(true);
  QImage best;
  const int count = std::max(1, reader.imageCount());
  for (int i = 0; i < count && i < 64; ++i) {  // icons: the largest image
    if (i > 0 && !reader.jumpToNextImage()) break;
    QImage image = reader.read();
    if (!image.isNull() && image.width() * image.height() > best.width() * best.height()) best = image;
    if (reader.format() != "ico" && reader.format() != "cur") break;
  }
  if (best.isNull()) return QApplication::style()->standardIcon(QStyle::SP_FileIcon);
  if (best.width() > size || best.height() > size)
    best = best.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
  // Centred on a square, so that every row's thumbnail lines up.
  QPixmap square(size, size);
  square.fill(Qt::transparent);
  QPainter painter(&square);
  painter.drawImage((size - best.width()) / 2, (size - best.height()) / 2, best);
  return QIcon(square);
}

ResultView::ResultView(const ResultReport& result, QWidget* parent, Opener open)
    : QDialog(parent), m_result(result), m_open(std::move(open)) {
  const bool import = m_cells.isImport();
  setWindowTitle(fromUtf8(import ? texts::result::kImportTitle : texts::result::kExportTitle));
  setSizeGripEnabled(true);

  m_report = new QPlainTextEdit(fromUtf8(m_result.text).replace("\r\n", "\n"), this);
  m_report->setReadOnly(true);
  m_report->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_report->setMaximumHeight(fontMetrics().lineSpacing() * 7 + 12);

  auto* summary = new QLabel(fromUtf8(resultSummary(m_result)) + "  " + fromUtf8(texts::result::kOpenHint), this);

  m_table = new QTableWidget(static_cast<int>(m_cells.rowCount()), m_cells.columnCount(), this);
  for (int c = 0; c < m_table->columnCount(); ++c)
    m_table->setHorizontalHeaderItem(c, new QTableWidgetItem(fromUtf8(ResultTable::heading(static_cast<ResultColumn>(c)))));
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(kThumbnail + 4);
  m_table->setIconSize(QSize(kThumbnail, kThumbnail));
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setAlternatingRowColors(true);
  m_table->setWordWrap(false);
  m_table->setTextElideMode(Qt::ElideLeft);  // the ends say most: "…Image1.Picture.Data"
  for (int i = 0; i < m_table->rowCount(); ++i) fillRow(i);
  m_table->setSortingEnabled(true);
  m_table->sortByColumn(Number, Qt::AscendingOrder);
  m_table->resizeColumnsToContents();
  m_table->setColumnWidth(Thumbnail, kThumbnail + 8);
  for (int c = 0; c < m_table->columnCount(); ++c)
    if (ResultTable::widthCapped(static_cast<ResultColumn>(c)))
      m_table->setColumnWidth(c, std::min(m_table->columnWidth(c), ResultTable::kCappedWidth));
  m_table->horizontalHeader()->setStretchLastSection(true);
  QHeaderView* header = m_table->horizontalHeader();
  const std::vector<ResultColumn> order = m_cells.displayOrder();
  for (std::size_t place = 0; place < order.size(); ++place)
    header->moveSection(header->visualIndex(static_cast<int>(order[place])), static_cast<int>(place));
  connect(m_table, &QTableWidget::cellDoubleClicked, this, [this](int row, int) {
    const QString path = m_table->item(row, File)->data(kPathRole).toString();
    if (m_open) m_open(path);
    else (void)QDesktopServices::openUrl(QUrl::fromLocalFile(path));
  });

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(fromUtf8(texts::result::kOk));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* layout = new QVBoxLayout(this);
  layout->addWidget(m_report);
  layout->addWidget(summary);
  layout->addWidget(m_table, 1);
  layout->addWidget(buttons);

  // As large as the list wants, within an 800 × 600 screen and the screen it opens on.
  ViewSize area{800, 600};
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen())
    area = {screen->availableGeometry().width(), screen->availableGeometry().height()};
  int wanted = 40 + m_table->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < m_table->columnCount(); ++c) wanted += m_table->columnWidth(c);
  const ViewSize fit = ResultTable::fitSize(wanted, area, 96);
  // The owner gives way (its full text is its tool tip).
  m_table->setColumnWidth(Owner, ResultTable::ownerWidth(m_table->columnWidth(Owner), wanted, fit.width, 96));
  // On a short screen (800 x 600 at 200 %) the report gives the list its rows: three lines.
  const int spare = fit.height - m_report->maximumHeight() - summary->sizeHint().height() -
                    buttons->sizeHint().height() - 4 * layout->spacing() - 2 * layout->contentsMargins().top();
  if (spare < kThumbnail * 3) m_report->setMaximumHeight(fontMetrics().lineSpacing() * 3 + 12);
  resize(fit.width, fit.height);
}

void ResultView::fillRow(int row) {
  const auto i = static_cast<std::size_t>(row);
  const ResultRow& r = m_cells.row(i);
  for (int c = 0; c < m_table->columnCount(); ++c) m_table->setItem(row, c, new SortItem(m_cells, i, static_cast<ResultColumn>(c)));
  const QString path = fromUtf8(r.path);
  m_table->item(row, Thumbnail)->setIcon(pictureThumbnail(path, kThumbnail));
  m_table->item(row, File)->setData(kPathRole, path);
  m_table->item(row, File)->setToolTip(fromUtf8(r.file));
  m_table->item(row, Bytes)->setText(QLocale().toString(static_cast<qlonglong>(r.bytes)));
  if (r.owner) m_table->item(row, Owner)->setToolTip(fromUtf8(*r.owner));
  if (const auto colour = m_cells.foreground(i))
    for (int c = 0; c < m_table->columnCount(); ++c) m_table->item(row, c)->setForeground(qColor(*colour));
  if (const auto colour = m_cells.background(i); colour && m_table->columnCount() > Changed) {
    QFont bold = m_table->item(row, Changed)->font();
    bold.setBold(true);
    m_table->item(row, Changed)->setFont(bold);
    for (int c = 0; c < m_table->columnCount(); ++c) m_table->item(row, c)->setBackground(qColor(*colour));
  }
}

}  // namespace falcet
