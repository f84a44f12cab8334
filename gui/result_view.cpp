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
constexpr int kSortRole = Qt::UserRole;
constexpr int kPathRole = Qt::UserRole + 1;

// Sorts by a number where the cell has one (number, size, bytes), else by the text.
class SortItem : public QTableWidgetItem {
 public:
  using QTableWidgetItem::QTableWidgetItem;
  bool operator<(const QTableWidgetItem& other) const override {
    const QVariant a = data(kSortRole), b = other.data(kSortRole);
    if (a.isValid() && b.isValid()) return a.toLongLong() < b.toLongLong();
    if (a.isValid() != b.isValid()) return b.isValid();  // unknown values last
    return QString::localeAwareCompare(text(), other.text()) < 0;
  }
};

SortItem* cell(const QString& text, std::optional<qint64> sortKey = std::nullopt) {
  auto* item = new SortItem(text);
  item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
  if (sortKey) item->setData(kSortRole, *sortKey);
  return item;
}

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
    : QDialog(parent), m_open(std::move(open)) {
  const bool import = result.operation == ResultReport::Operation::Import;
  setWindowTitle(fromUtf8(import ? texts::result::kImportTitle : texts::result::kExportTitle));
  setSizeGripEnabled(true);

  m_report = new QPlainTextEdit(fromUtf8(result.text).replace("\r\n", "\n"), this);
  m_report->setReadOnly(true);
  m_report->setLineWrapMode(QPlainTextEdit::NoWrap);
  m_report->setMaximumHeight(fontMetrics().lineSpacing() * 7 + 12);

  auto* summary = new QLabel(fromUtf8(resultSummary(result)) + "  " + fromUtf8(texts::result::kOpenHint), this);

  m_table = new QTableWidget(static_cast<int>(result.rows.size()), import ? Changed + 1 : Owner + 1, this);
  for (int c = 0; c < m_table->columnCount(); ++c)
    m_table->setHorizontalHeaderItem(c, new QTableWidgetItem(fromUtf8(texts::result::kColumns[c])));
  m_table->verticalHeader()->hide();
  m_table->verticalHeader()->setDefaultSectionSize(kThumbnail + 4);
  m_table->setIconSize(QSize(kThumbnail, kThumbnail));
  m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
  m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  m_table->setAlternatingRowColors(true);
  m_table->setWordWrap(false);
  m_table->setTextElideMode(Qt::ElideLeft);  // the ends say most: "…Image1.Picture.Data"
  for (int i = 0; i < m_table->rowCount(); ++i) fillRow(i, result.rows[static_cast<std::size_t>(i)], import);
  m_table->setSortingEnabled(true);
  m_table->sortByColumn(Number, Qt::AscendingOrder);
  m_table->resizeColumnsToContents();
  m_table->setColumnWidth(Thumbnail, kThumbnail + 8);
  for (int c : {File, Owner, Verdict})
    if (c < m_table->columnCount()) m_table->setColumnWidth(c, std::min(m_table->columnWidth(c), 230));
  m_table->horizontalHeader()->setStretchLastSection(true);
  if (import) {  // what became of each picture first, its facts after
    QHeaderView* header = m_table->horizontalHeader();
    header->moveSection(header->visualIndex(Changed), Number + 1);
    header->moveSection(header->visualIndex(Verdict), Number + 2);
  }
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

  // As large as the list wants, within an 800 × 600 screen (or the screen it opens on).
  QSize fit(780, 560);
  if (const QScreen* screen = parent ? parent->screen() : QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    fit = fit.boundedTo(QSize(area.width() - 20, area.height() - 40));
  }
  int wanted = 40 + m_table->verticalScrollBar()->sizeHint().width();
  for (int c = 0; c < m_table->columnCount(); ++c) wanted += m_table->columnWidth(c);
  if (wanted > fit.width()) {  // the owner gives way (its full text is its tool tip)
    const int excess = wanted - fit.width();
    m_table->setColumnWidth(Owner, std::max(120, m_table->columnWidth(Owner) - excess));
  }
  resize(std::min(std::max(wanted, 520), fit.width()), fit.height());
}

void ResultView::fillRow(int row, const ResultRow& r, bool import) {
  auto* thumb = cell({});
  thumb->setIcon(pictureThumbnail(fromUtf8(r.path), kThumbnail));
  m_table->setItem(row, Thumbnail, thumb);
  m_table->setItem(row, Number, cell(QString::number(r.number), r.number));
  const QString path = fromUtf8(r.path);
  auto* file = cell(QFileInfo(path).fileName());
  file->setData(kPathRole, path);
  file->setToolTip(fromUtf8(r.file));
  m_table->setItem(row, File, file);
  const QString unknown = fromUtf8(texts::result::kUnknown);
  m_table->setItem(row, Format, cell(r.format.empty() ? unknown : fromUtf8(r.format)));
  if (r.width && r.height)
    m_table->setItem(row, Size, cell(QString("%1×%2").arg(*r.width).arg(*r.height), qint64{*r.width} * *r.height));
  else
    m_table->setItem(row, Size, cell(unknown));
  m_table->setItem(row, Bytes, cell(QLocale().toString(static_cast<qlonglong>(r.bytes)), r.bytes));
  auto* owner = cell(r.owner ? fromUtf8(*r.owner) : unknown);
  if (r.owner) owner->setToolTip(fromUtf8(*r.owner));
  m_table->setItem(row, Owner, owner);
  if (!import) return;
  auto* verdict = cell(fromUtf8(r.verdict));
  if (!r.imported) verdict->setForeground(QColor(0xB0, 0x00, 0x20));
  m_table->setItem(row, Verdict, verdict);
  auto* changed = cell(r.changed ? fromUtf8(texts::result::kChanged) : QString(), r.changed ? 1 : 0);
  if (r.changed) {
    QFont bold = changed->font();
    bold.setBold(true);
    changed->setFont(bold);
    for (int c = 0; c < m_table->columnCount(); ++c)
      if (QTableWidgetItem* item = c == Changed ? changed : m_table->item(row, c))
        item->setBackground(QColor(0xFF, 0xF4, 0xC2));
  }
  m_table->setItem(row, Changed, changed);
}

}  // namespace falcet
