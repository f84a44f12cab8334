#include "font_fix_apply.hpp"

#include <QFont>
#include <QVariant>

namespace falcet {
namespace {

bool matches(const QObject& o, const FontFixSettings& s) {
  const QVariant font = o.property("font");
  const QVariant charset = o.property(kCharsetProperty);
  if (!font.isValid() || !charset.isValid()) return false;  // a null comparison is false
  return isDesignFont(s, toFixed4(font.value<QFont>().pointSizeF()),
                      static_cast<std::int16_t>(charset.toInt()));
}

}  // namespace

void ApplyFontFix(QWidget& window, const FontFixSettings& s) {
  if (!s.AutoFix) return;
  if (!matches(window, s)) return;
  for (QWidget* control : window.findChildren<QWidget*>()) {
    if (!matches(*control, s)) continue;
    control->setProperty(kCharsetProperty, static_cast<int>(s.FixedFontCharset));
    QFont f = control->property("font").value<QFont>();
    f.setPointSizeF(static_cast<double>(s.FixedFontSize) / 10000.0);
    control->setProperty("font", f);
    f = control->property("font").value<QFont>();
    f.setFamily(QString::fromStdString(s.FixedFontName));
    control->setProperty("font", f);
  }
}

}  // namespace falcet
