// tavio32: the library from the command line. See `tavio32 --help`. Each
// subcommand lives in commands/ (serve in serve/); main wires them together.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <regex>
#include <string>

#include "cli_common.h"
#include "cli_system.h"
#include "commands/commands.h"
#include "i18n.h"

using namespace tavio::cli;

static int run(CLI::App &app, int argc, char **argv);

namespace {

// CLI11's help in the user's language: its labels and group names, and the
// option groups' names as they are printed.
class Formatter : public CLI::Formatter {
public:
  Formatter() {
    for (const char *key : {N_("Usage"), N_("OPTIONS"), N_("SUBCOMMAND"), N_("SUBCOMMANDS"), N_("REQUIRED"),
                            N_("Needs"), N_("Excludes"), N_("Positionals"), N_("Env"), N_("Options")})
      label(key, tr(key));
  }
  std::string make_group(std::string group, bool positional, std::vector<const CLI::Option *> opts) const override {
    return CLI::Formatter::make_group(tr(group.c_str()), positional, std::move(opts));
  }
  std::string make_subcommands(const CLI::App *app, CLI::AppFormatMode mode) const override {
    return CLI::detail::find_and_replace(CLI::Formatter::make_subcommands(app, mode), "\nSubcommands:\n",
                                         std::string("\n") + tr(N_("Subcommands")) + ":\n");
  }
};

// CLI11's error messages, as far as tavio32 can meet them, in the user's
// language; others as CLI11 words them.
std::string translated(const std::string &what) {
  struct Pattern {
    const char *english;
    const char *text; // its parts in order as %s
  };
  static const Pattern patterns[] = {
      {"The following arguments? (?:was|were) not expected: (.*)", N_("unexpected arguments: %s")},
      {"A subcommand is required", N_("a subcommand is needed")},
      {"(.*) is required", N_("%s is needed")},
      {"(\\S+) requires (\\S+)", N_("%s needs %s as well")},
      {"(\\S+) excludes (\\S+)", N_("%s cannot go with %s")},
      {"(\\S+): Value (.*) not in range (.*) to (.*)", N_("%s: the value %s is not in the range %s to %s")},
      {"(\\S+): Value (.*) could not be converted", N_("%s: %s is not a number")},
      {"Could not convert: (\\S+) = (.*)", N_("%s: cannot take %s")},
      {"(\\S+): (.*) not in (\\{.*\\})", N_("%s: %s is none of %s")},
      {"(\\S+): (\\d+) required (\\S+) missing", N_("%s needs %s value(s) of type %s")},
  };
  std::smatch m;
  for (const Pattern &p : patterns) {
    if (!std::regex_match(what, m, std::regex(p.english))) continue;
    if (tr(p.text) == p.text) return what; // no translation: CLI11's own words
    std::string out = tr(p.text);
    size_t at = 0;
    for (size_t g = 1; g < m.size(); ++g) {
      at = out.find("%s", at);
      if (at == std::string::npos) break;
      out.replace(at, 2, m[g].str());
      at += m[g].length();
    }
    return out;
  }
  return what;
}

std::string failure_message(const CLI::App *app, const CLI::Error &e) {
  std::string names;
  for (const CLI::Option *o : {app->get_help_ptr(), app->get_help_all_ptr()})
    if (o) names += (names.empty() ? "" : tr(N_(" or "))) + o->get_name();
  return translated(e.what()) + "\n" + (names.empty() ? "" : format(tr("Run with %s for more information.\n"), names.c_str()));
}

} // namespace

int main(int argc, char **argv) {
  init_language(argc > 0 ? argv[0] : nullptr);
  CLI::App app{std::string(tr("tavio32: measurement interfaces and serial ports from the command line.\n")) +
               tr(port_naming())};
  app.formatter(std::make_shared<Formatter>());
  app.failure_message(failure_message);
  app.set_help_flag("-h,--help", tr("Print this help message and exit"));
  app.require_subcommand(1);
  app.set_help_all_flag("--help-all", tr("Help for every subcommand"));
  app.allow_windows_style_options(false); // the same options everywhere; /path is a path
  // Double-clicked (Windows): the browser view of the interface detection
  // finds, in the browser, until the window is closed.
  const bool double_clicked = argc == 1 && started_from_explorer();
  char serve[] = "serve", detect[] = "--detect", open[] = "--open";
  char *clicked[] = {argc > 0 ? argv[0] : serve, serve, detect, open, nullptr};
  if (double_clicked) {
    argc = 4;
    argv = clicked;
    std::printf("%s", tr("tavio32: the browser view of the interface found (the simulation if none answers).\n"
                         "Closing this window ends it.\n\n"));
    std::fflush(stdout);
  }
  const int status = run(app, argc, argv);
  if (double_clicked && status != 0 && status != kExitInterrupted) {
    std::printf("\n%s\n", tr("Press Enter to close this window."));
    std::fflush(stdout);
    std::getchar();
  }
  return status;
}

int run(CLI::App &app, int argc, char **argv) {
  const Subcommand subcommands[] = {add_ports(app),  add_detect(app), add_version(app), add_read(app),  add_write(app),
                                    add_record(app), add_table(app),  add_monitor(app), add_serve(app)};
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError &e) {
    const int rc = app.exit(e);
    return rc == 0 ? 0 : kExitUsage;
  }
  try {
    // The library is loaded at a subcommand's first call into it (library.h):
    // help and argument errors need none.
    for (const Subcommand &s : subcommands)
      if (s.app->parsed()) return s.run();
  } catch (const Failure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "tavio32: %s\n", f.message.c_str());
    return f.status;
  }
  return kExitUsage;
}
