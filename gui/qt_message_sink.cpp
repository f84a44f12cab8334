#include "qt_message_sink.hpp"

#include <QMessageBox>

namespace falcet {

int QtMessageSink::show(std::string_view text, std::string_view title, MessageKind) {
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(title.data(), static_cast<qsizetype>(title.size())),
                  QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())), QMessageBox::Ok, m_owner);
  box.exec();
  return kButtonOk;
}

}  // namespace falcet
