// falcet-cli: the command-line front end. It runs the same operations as the window and prints
// the texts the window would show, one per line (errors to stderr).

#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <optional>
#include <string>

#include "app/detect.hpp"
#include "console.hpp"
#include "app/startup.hpp"
#include "platform/codepage.hpp"
#include "platform/program_info.hpp"
#include "texts/texts.hpp"
#include "transfer/export.hpp"
#include "transfer/import.hpp"
#include "transfer/log_reader.hpp"
#include "transfer/picture_list.hpp"

namespace {

using namespace falcet;

// Prints each message; CR LF line ends become the terminal's.
class PrintSink : public ResultSink {
 public:
  int show(std::string_view text, std::string_view title, MessageKind kind) override {
    std::string out;
    if (title != kAppTitle && !title.empty()) out += "[" + std::string(title) + "] ";
    for (std::size_t i = 0; i < text.size(); ++i) {
      if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
      out += text[i];
    }
    clearProgress();
    cli::printText(out + "\n", kind == MessageKind::Error);
    return kButtonOk;
  }

  // On a terminal, once the work has taken half a second: "處理中… NN%" on one rewritten line of
  // the error stream, cleared at the end. Nothing when the error stream is a pipe or a file.
  void progress(std::int64_t done, std::int64_t total) override {
    if (!m_terminal || total <= 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (!m_started) {
      m_started = true;
      m_start = now;
    }
    if (done >= total) {
      clearProgress();
      m_started = false;
      return;
    }
    if (now - m_start < std::chrono::milliseconds(500)) return;
    const int percent = static_cast<int>(done * 100 / total);
    if (percent == m_percent) return;
    m_percent = percent;
    cli::printText("\r" + std::string(texts::cli::kProgress) + " " + std::to_string(percent) + "%", true);
    m_shown = true;
  }

 private:
  void clearProgress() {
    if (!m_shown) return;
    cli::printText("\r" + std::string(24, ' ') + "\r", true);
    m_shown = false;
    m_percent = -1;
  }
  bool m_terminal = cli::errorIsTerminal();
  bool m_started = false, m_shown = false;
  int m_percent = -1;
  std::chrono::steady_clock::time_point m_start;
};

std::string hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool loadKinds(const std::string& settings, PictureKinds& kinds, PrintSink& sink) {
  IniFile ini(programFolder(), "falcet-cli");
  if (!settings.empty()) ini.useFile(nativePath(settings));
  StartupResult r = loadKindsOnly(ini, kinds);
  if (!r.ok) sink.show(r.message, kAppTitle, MessageKind::Error);
  return r.ok;
}

SourceKindValue chooseKind(const std::string& kindOption, const std::string& sourceName) {
  if (auto k = sourceKindFromOption(kindOption)) return *k;
  return DetectSourceKind(sourceName).value_or(SourceKindValue::VbExe);
}

// What the command line asked for.
struct Request {
  std::string settings, kind, path;
  CLI::App* kinds = nullptr;
  CLI::App* exportCommand = nullptr;
  CLI::App* importCommand = nullptr;
  CLI::App* detect = nullptr;
  CLI::App* list = nullptr;
  bool json = false;
  bool removeSignature = false;
  bool overwrite = false;
};

void configure(CLI::App& app, Request& r) {
  namespace t = texts::cli;
  auto s = [](std::string_view text) { return std::string(text); };
  app.require_subcommand(1);
  app.set_help_flag("-h,--help", s(t::kHelpFlag));
  const std::vector<std::string> kindOptions(kSourceKindOptions.begin(), kSourceKindOptions.end());

  r.kinds = app.add_subcommand("kinds", s(t::kKindsCommand));
  r.kinds->add_option("--settings", r.settings, s(t::kSettingsOption));

  r.exportCommand = app.add_subcommand("export", s(t::kExportCommand));
  r.exportCommand->add_option("--kind", r.kind, s(t::kKindOption))->check(CLI::IsMember(kindOptions));
  r.exportCommand->add_option("--settings", r.settings, s(t::kSettingsOption));
  r.exportCommand->add_flag("--overwrite", r.overwrite, s(t::kOverwriteOption));
  r.exportCommand->add_option("SOURCE", r.path, s(t::kSourceArgument))->required();

  r.importCommand = app.add_subcommand("import", s(t::kImportCommand));
  r.importCommand->add_option("--kind", r.kind, s(t::kKindOption))->check(CLI::IsMember(kindOptions));
  r.importCommand->add_option("--settings", r.settings, s(t::kSettingsOption));
  r.importCommand->add_flag("--remove-signature", r.removeSignature, s(t::kRemoveSignatureOption));
  r.importCommand->add_option("LOG", r.path, s(t::kLogArgument))->required();

  r.list = app.add_subcommand("list", s(t::kListCommand));
  r.list->add_option("--kind", r.kind, s(t::kKindOption))->check(CLI::IsMember(kindOptions));
  r.list->add_option("--settings", r.settings, s(t::kSettingsOption));
  r.list->add_flag("--json", r.json, s(t::kJsonOption));
  r.list->add_option("SOURCE", r.path, s(t::kSourceArgument))->required();

  r.detect = app.add_subcommand("detect", s(t::kDetectCommand));
  r.detect->add_option("FILE", r.path, s(t::kFileArgument))->required();
}

void printKinds(const PictureKinds& kinds) {
  std::size_t i = 1;
  for (const PictureKind& k : kinds) {
    std::string line = std::to_string(i++) + "\t" + k.Name + "\t" + hex(k.FileHandleMark) + "\t" +
                       std::to_string(k.FilePosFix) + "\t" + std::to_string(k.FileLenPos) + "\t" +
                       std::to_string(k.BinFileLenPos) + "\t" + std::to_string(k.BinFileLenFix) +
                       "\t" + k.FileExt + "\t" + std::to_string(k.DfmBlockLenPos) + "\t" +
                       std::to_string(k.DfmBlockLenFix) + "\t";
    for (std::size_t f = 0; f < k.EnclosingLenFields.size(); ++f) {
      const LenField& field = k.EnclosingLenFields[f];
      line += (f ? "," : "") + std::to_string(field.offset) + ":" + std::to_string(field.difference);
      if (!field.guard.empty()) line += ":" + std::to_string(field.guardOffset) + "=" + hex(field.guard);
    }
    cli::printText(line + "\n", false);
  }
}

// The pictures export would find, as a table or as JSON; nothing is written.
int runList(Session& session, const Request& r, PrintSink& sink) {
  session.SourceKind = chooseKind(r.kind, std::string(trimSpaces(r.path)));
  ListDetails details;
  details.progress = &sink;
  const auto found = ListPictures(session, r.path, &details);
  if (!found) {
    sink.show(details.badTextLine ? texts::textFormUnreadable(details.badTextLine) : std::string(texts::kReadFileError),
              kAppTitle, MessageKind::Error);
    return 1;
  }
  auto orNull = [](const std::optional<int>& v) { return v ? nlohmann::json(*v) : nlohmann::json(nullptr); };
  if (r.json) {
    nlohmann::json pictures = nlohmann::json::array();
    for (const FoundPicture& p : *found)
      pictures.push_back({{"number", p.number}, {"position", p.position}, {"length", p.length},
                          {"kind", session.pictureKinds[p.kind].Name}, {"format", p.facts.format},
                          {"width", orNull(p.facts.width)}, {"height", orNull(p.facts.height)},
                          {"bits", orNull(p.facts.bits)}, {"images", orNull(p.facts.images)}, {"owner", p.owner ? nlohmann::json(*p.owner) : nlohmann::json(nullptr)}});
    nlohmann::json unknown = nlohmann::json::array();
    for (const UnknownPicture& u : details.unknown)
      unknown.push_back({{"property", u.property}, {"format", u.format}, {"position", u.position}});
    const nlohmann::json out = {{"source", r.path}, {"kind", std::string(sourceKindOption(session.SourceKind))},
                                {"pictures", pictures}, {"unrecognised", unknown}};
    cli::printUtf8(out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n");
    return 0;
  }
  std::string table = std::string(texts::cli::kListHeader) + "\n";
  for (const FoundPicture& p : *found) {
    const std::string size = p.facts.width && p.facts.height
                                 ? std::to_string(*p.facts.width) + "x" + std::to_string(*p.facts.height)
                                 : "-";
    table += std::to_string(p.number) + "\t" + std::to_string(p.position) + "\t" + std::to_string(p.length) + "\t" +
             session.pictureKinds[p.kind].Name + "\t" + p.facts.format + "\t" + size + "\t" +
             p.owner.value_or("-") + "\n";
  }
  cli::printText(table, false);
  // What no kind found is named on the error stream, so the table stays one picture a line.
  std::string notes;
  for (const UnknownPicture& u : details.unknown) notes += texts::unknownPicture(u.property, u.format, u.position) + "\n";
  if (found->empty()) notes += std::string(texts::kNoPictureFound) + "\n";
  if (!notes.empty()) cli::printText(notes, true);
  return 0;
}

int runImport(Session& session, const Request& r, PrintSink& sink) {
  if (!isLogFileName(r.path)) {
    sink.show(texts::kFileNameError, kAppTitle, MessageKind::Error);
    return 1;
  }
  session.SourceKind = chooseKind(r.kind, r.path.substr(0, r.path.size() - 8));
  switch (ImportPictures(session, r.path, sink,
                         r.removeSignature ? SignedPrograms::RemoveSignature : SignedPrograms::Refuse)) {
    case ImportOutcome::Done: return 0;
    case ImportOutcome::Partial: return 3;
    case ImportOutcome::Failed: return 1;
  }
  return 1;
}

}  // namespace

int falcet::cli::run(const std::vector<std::string>& args) {
  CLI::App app{std::string(texts::cli::kAbout), "falcet-cli"};
  app.allow_windows_style_options(false);  // "/a/b.frx" is a file, never an option
  Request r;
  configure(app, r);
  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  try {
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    std::ostringstream out, err;
    const int status = app.exit(e, out, err);
    cli::printText(out.str(), false);
    cli::printText(err.str(), true);
    return status;
  }

  PrintSink sink;
  if (*r.detect) {
    auto k = DetectSourceKind(r.path);
    cli::printText(std::string(k ? sourceKindOption(*k) : "none") + "\n", false);
    return 0;
  }
  Session session;
  if (!loadKinds(r.settings, session.pictureKinds, sink)) return 1;
  if (*r.kinds) {
    printKinds(session.pictureKinds);
    return 0;
  }
  if (*r.list) return runList(session, r, sink);
  if (*r.exportCommand) {
    session.SourceKind = chooseKind(r.kind, std::string(trimSpaces(r.path)));
    return ExportPictures(session, r.path, sink, ExportReading{},
                          r.overwrite ? EditedPictures::Overwrite : EditedPictures::Keep)
               ? 0
               : 1;
  }
  return runImport(session, r, sink);
}
