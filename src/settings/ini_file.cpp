#include "settings/ini_file.hpp"

#include "platform/codepage.hpp"

namespace falcet {

IniFile::IniFile(std::filesystem::path programFolder, std::string programName,
                 std::string productName)
    : m_programFolder(std::move(programFolder)),
      m_programName(std::move(programName)),
      m_productName(std::move(productName)) {}

void IniFile::IniSelect(std::string& baseName, std::string_view section) {
  if (baseName.empty() && section.empty()) {
    m_iniFilePath.clear();
    m_iniSection.clear();
  }
  if (baseName.empty()) baseName = m_programName.empty() ? m_productName : m_programName;
  if (m_iniFilePath.empty()) m_iniFilePath = m_programFolder / nativePath(baseName + ".ini");
  m_iniSection = section.empty() ? baseName : std::string(section);
}

void IniFile::useFile(std::filesystem::path path) { m_iniFilePath = std::move(path); }

const ProfileDocument& IniFile::document() {
  if (!m_document || m_documentPath != m_iniFilePath) {
    m_document = m_iniFilePath.empty() ? ProfileDocument() : ProfileDocument::load(m_iniFilePath);
    m_documentPath = m_iniFilePath;
  }
  return *m_document;
}

bool IniFile::hasSection(std::string_view section) { return document().hasSection(section); }

std::string IniFile::IniRead(std::string_view key, std::string_view defaultValue,
                             std::string_view section) {
  std::string_view s = section.empty() ? std::string_view(m_iniSection) : section;
  auto v = document().read(s, key);
  return v ? CutAtNul(*v) : std::string(defaultValue);
}

}  // namespace falcet
