#pragma once
// Messages as modal boxes with an OK button and no icon.

#include <QWidget>

#include "platform/message_sink.hpp"

namespace falcet {

class QtMessageSink : public MessageSink {
 public:
  explicit QtMessageSink(QWidget* owner = nullptr) : m_owner(owner) {}
  int show(std::string_view text, std::string_view title, MessageKind kind) override;

 private:
  QWidget* m_owner;
};

}  // namespace falcet
