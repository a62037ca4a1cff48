// korvo: the command-line tool for package archives and tiled images.
#include <cstdio>
#include <exception>
#include <vector>

#include "common/version.h"
#include "platform/terminal.h"
#include "tool.h"

int main(int argc, char** argv) {
  using namespace korvo::tool;
  // Entry bytes (cat) and messages go out as they are, without "\r\n" on Windows.
  korvo::platform::UseBinaryStandardStreams();
  GlobalOptions global;
  SetUtf8Output(korvo::platform::OutputIsUtf8());
  CLI::App app{
      "korvo: make, edit, inspect and check package archives; convert tiled images to and "
      "from PNG.\nExit status: 0 success, 1 failure, 2 usage error.",
      "korvo"};
  // Set before the subcommands are added: they take their parent's formatter.
  app.formatter(MakeHelpFormatter());
  app.require_subcommand(1);
  // Options start with '-' on every system: on Windows a path such as /data/ui must stay a path
  // (CLI11 would take it for a "/option"). Subcommands inherit this when they are added.
  app.allow_windows_style_options(false);
  app.fallthrough();
  app.add_flag("-q,--quiet", global.quiet, "Print nothing but errors");
  app.set_version_flag("--version", "korvo " KORVO_VERSION_STRING);

  std::vector<Command> commands = {
      AddPackCommand(app, global),    AddAddCommand(app, global),
      AddDelCommand(app, global),     AddListCommand(app, global),
      AddExtractCommand(app, global), AddCatCommand(app, global),
      AddVerifyCommand(app, global),  AddImg2PngCommand(app, global),
      AddPng2ImgCommand(app, global), AddWhichCommand(app, global),
      AddMountsCommand(app, global),  AddConflictsCommand(app, global),
      AddDiffCommand(app, global),    AddMergeCommand(app, global),
      AddCompactCommand(app, global), AddViewCommand(app, global),
  };

  // A first word that names no subcommand is reported as such, not as a missing subcommand.
  if (argc > 1 && argv[1][0] != '-') {
    bool known = false;
    for (const Command& command : commands) known |= command.app->get_name() == argv[1];
    if (!known) {
      std::fprintf(stderr,
                   "korvo: usage error: unknown subcommand '%s'\nRun 'korvo --help' for usage.\n",
                   argv[1]);
      return ExitUsage;
    }
  }

  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForAllHelp& e) {
    return app.exit(e);
  } catch (const CLI::CallForVersion& e) {
    return app.exit(e);
  } catch (const CLI::ParseError& e) {
    std::string where = "korvo";
    for (const Command& command : commands) {
      if (command.app->parsed()) where += " " + command.app->get_name();
    }
    std::fprintf(stderr, "%s: usage error: %s\nRun '%s --help' for usage.\n", where.c_str(),
                 e.what(), where.c_str());
    return ExitUsage;
  }

  for (const Command& command : commands) {
    if (!command.app->parsed()) continue;
    try {
      int code = command.run();
      // A success means that every listing, report and message on standard output reached it:
      // a full disk or a closed pipe makes it a failure. A failure has said why already.
      if (code == ExitOk && !FinishStandardOutput()) code = ExitFailure;
      return code;
    } catch (const std::bad_alloc&) {
      return Fail(command.app->get_name(), "out of memory");
    } catch (const std::exception& e) {
      return Fail(command.app->get_name(), e.what());
    }
  }
  return ExitUsage;
}
