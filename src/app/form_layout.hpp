#pragma once
// The main window's controls as data: kind, container, place in twips (15 twips are one pixel at
// 96 dpi), tab order and design-time caption. Both windows build themselves from this table, in
// its order (a container comes before what it holds).

#include <array>
#include <string>
#include <string_view>

#include "texts/texts.hpp"

namespace falcet::form {

inline constexpr int kClientWidthTwips = 5550;

// The design fonts: every control in 新細明體 9 pt, character set 136 (Chinese Big5); the version
// label a0 in 無體 10.5 pt bold.
struct DesignFont {
  std::string_view face;
  double points;
  bool bold;
};
inline constexpr DesignFont kDesignFont{"新細明體", 9, false};
inline constexpr DesignFont kVersionFont{"無體", 10.5, true};
inline constexpr int kDesignCharset = 136;  // CHINESEBIG5_CHARSET
inline constexpr int kClientHeightTwips = 4725;

// Every control of the window. The groups of the form keep their index numbers in the names:
// a0..a4 are the labels `a`(i), f0/f1/f3 the frames `f`(i).
enum class Control {
  Window,  // the container of the top-level controls
  A3, KindList, F0, SourceName, SourceBrowse, ExportButton, F3, LogName, LogBrowse, ImportButton,
  F1, A0, A1, A4, A2,
};
inline constexpr std::size_t kControlCount = 16;

enum class ControlType { Label, LinkLabel, DropDown, Frame, TextBox, Button, PictureButton };
enum class Align { Left, Right, Center };

struct ControlRow {
  Control id;
  ControlType type;
  Control parent;
  int index;  // the index within its group (`a`(i), `f`(i), `檔名`(i), `瀏覽`(i)); -1 for none
  int left, top, width, height;
  int tab;
  std::string_view caption;
  Align align = Align::Left;
};

inline constexpr std::array<ControlRow, kControlCount - 1> kControls = {{
    {Control::A3, ControlType::Label, Control::Window, 3, 360, 280, 1935, 255, 12, texts::kKindLabel, Align::Right},
    {Control::KindList, ControlType::DropDown, Control::Window, -1, 2400, 240, 2415, 300, 13, {}},
    {Control::F0, ControlType::Frame, Control::Window, 0, 120, 720, 5295, 975, 6, texts::kExportFrame},
    {Control::SourceName, ControlType::TextBox, Control::F0, 0, 120, 400, 3975, 270, 0, {}},
    {Control::SourceBrowse, ControlType::Button, Control::F0, 0, 4080, 400, 375, 255, 1, texts::kBrowseCaption},
    {Control::ExportButton, ControlType::PictureButton, Control::F0, -1, 4560, 220, 615, 615, 2, {}},
    {Control::F3, ControlType::Frame, Control::Window, 3, 120, 1800, 5295, 975, 7, texts::kImportFrame},
    {Control::LogName, ControlType::TextBox, Control::F3, 3, 120, 400, 3975, 270, 3, {}},
    {Control::LogBrowse, ControlType::Button, Control::F3, 3, 4080, 400, 375, 255, 4, texts::kBrowseCaption},
    {Control::ImportButton, ControlType::PictureButton, Control::F3, -1, 4560, 220, 615, 615, 5, {}},
    {Control::F1, ControlType::Frame, Control::Window, 1, 120, 2880, 5295, 1695, 8, texts::kAboutFrame},
    {Control::A0, ControlType::Label, Control::F1, 0, 240, 360, 4815, 255, 9, texts::kDesignVersion, Align::Center},
    {Control::A1, ControlType::LinkLabel, Control::F1, 1, 240, 720, 4815, 255, 10, {}, Align::Center},
    {Control::A4, ControlType::LinkLabel, Control::F1, 4, 240, 960, 4815, 255, 14, {}, Align::Center},
    {Control::A2, ControlType::LinkLabel, Control::F1, 2, 240, 1200, 4815, 255, 11, {}, Align::Center},
}};

[[nodiscard]] constexpr std::size_t slot(Control c) { return static_cast<std::size_t>(c); }

// The caption of a link label (`a`(1), `a`(2), `a`(4)), and the address that clicking `a`(index)
// opens (empty for the labels that are not links).
[[nodiscard]] inline std::string linkCaption(int index) {
  switch (index) {
    case 1: return std::string(texts::kHomePageLabel) + std::string(texts::kHomePage);
    case 2: return std::string(texts::kMailLabel) + std::string(texts::kMail);
    case 4: return std::string(texts::kForumLabel) + std::string(texts::kForum);
    default: return {};
  }
}
[[nodiscard]] inline std::string linkAddress(int index) {
  switch (index) {
    case 1: return std::string(texts::kHomePage);
    case 2: return "mailto:" + std::string(texts::kMail);
    case 4: return std::string(texts::kForum);
    default: return {};
  }
}

}  // namespace falcet::form
