// genform: composes stored forms of components from the loaded design-time packages.
#include <QApplication>
#include <QCommandLineParser>
#include <filesystem>
#include <iostream>
#include <memory>
#include <vector>

#include "design/qtnotice.h"
#include "platform/base/notice.h"
#include "platform/designtime/designintf.h"
#include "platform/designtime/package.h"
#include "tools/designer/designerwindow.h"

namespace {

// Prints what each package brings; 1 when one does not load.
int ListPackages(const std::vector<std::filesystem::path>& paths) {
  int status = 0;
  std::vector<std::unique_ptr<tgen::TPackage>> loaded;
  for (const auto& path : paths) {
    try {
      auto package = tgen::TPackage::Load(path);
      package->Register();
      std::cout << package->Name() << " (" << path.string() << "): " << package->Description()
                << "\n  units:";
      for (const std::string& unit : package->UnitNames())
        std::cout << ' ' << unit;
      std::cout << '\n';
      for (const auto& entry : tgen::TDesignRegistry::Global().Palette()) {
        if (entry.Package == package->Name()) {
          std::cout << "  palette " << entry.Page << ": " << entry.ClassName << '\n';
        }
      }
      loaded.push_back(std::move(package));
    } catch (const std::exception& e) {
      std::cerr << "genform: " << e.what() << '\n';
      status = 1;
    }
  }
  if (paths.empty()) std::cerr << "genform: no package found\n";
  return paths.empty() ? 1 : status;
}

}  // namespace

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("genform"));
  QApplication::setApplicationVersion(QStringLiteral(TGEN_VERSION));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral(
      "Form designer: place components from design-time packages on a stored form, set their "
      "properties with their editors, and try generators out."));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption package(
      {QStringLiteral("p"), QStringLiteral("package")},
      QStringLiteral("Load this design-time package (repeatable; default: $TGEN_PACKAGES, else "
                     "the installed package)."),
      QStringLiteral("module"));
  parser.addOption(package);
  const QCommandLineOption list(
      QStringLiteral("list-packages"),
      QStringLiteral("Load the packages, print their units and palette pages, and exit."));
  parser.addOption(list);
  parser.addPositionalArgument(QStringLiteral("form"), QStringLiteral("A stored form to open."),
                               QStringLiteral("[form]"));
  parser.process(app);

  std::vector<std::filesystem::path> packages;
  for (const QString& p : parser.values(package))
    packages.emplace_back(p.toStdString());
  if (packages.empty()) {
    packages = tgen::DefaultPackages(QApplication::applicationDirPath().toStdString());
  }
  if (parser.isSet(list)) return ListPackages(packages);

  tgen::InstallQtNoticeSink();
  tgen::TDesignerWindow window;
  for (const auto& p : packages) {
    try {
      window.LoadPackage(p);
    } catch (const std::exception& e) {
      tgen::MessageBox(e.what(), "Form designer", tgen::MB_ICONSTOP);
    }
  }
  if (!parser.positionalArguments().isEmpty()) window.OpenForm(parser.positionalArguments()[0]);
  window.show();
  return QApplication::exec();
}
