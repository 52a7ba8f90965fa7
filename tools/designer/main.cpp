// genform: composes stored forms of components from the loaded design-time packages.
#include <QApplication>
#include <QCommandLineParser>
#include <filesystem>

#include "design/qtnotice.h"
#include "platform/notice.h"
#include "tools/designer/designerwindow.h"

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
  parser.addPositionalArgument(QStringLiteral("form"), QStringLiteral("A stored form to open."),
                               QStringLiteral("[form]"));
  parser.process(app);

  tgen::InstallQtNoticeSink();
  tgen::TDesignerWindow window;
  std::vector<std::filesystem::path> packages;
  for (const QString& p : parser.values(package))
    packages.emplace_back(p.toStdString());
  if (packages.empty()) {
    packages = tgen::DefaultPackages(QApplication::applicationDirPath().toStdString());
  }
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
