#pragma once
// How operations report to the user. The window shows a modal box with an OK button and no icon;
// the command line prints the text (errors to stderr); tests record the calls.

#include <string>
#include <string_view>

#include "texts/texts.hpp"

namespace falcet {

inline constexpr std::string_view kAppTitle = texts::kAppTitle;
inline constexpr int kButtonOk = 1;
inline constexpr int kButtonYes = 6;
inline constexpr int kButtonNo = 7;

// A question has the buttons yes and no; a sink that cannot ask answers neither.
enum class MessageKind { Info, Error, Question };

class MessageSink {
 public:
  virtual ~MessageSink() = default;
  // Shows text under title; returns the code of the button pressed (kButtonOk; for a question
  // kButtonYes or kButtonNo).
  virtual int show(std::string_view text, std::string_view title, MessageKind kind) = 0;
};

}  // namespace falcet
