#include "design/resources.h"

#include <QFont>
#include <QStringList>
#include <QtGlobal>

// Outside any namespace, as Q_INIT_RESOURCE requires.
static void InitTgeneratorResources() {
  Q_INIT_RESOURCE(tgenerator);
}

namespace tgen {

void InitDesignResources() {
  static const bool done = [] {
    InitTgeneratorResources();
    // The layouts were measured in this small font; where it is missing, a narrow one.
    const QStringList narrow = {
        QStringLiteral("Microsoft Sans Serif"), QStringLiteral("DejaVu Sans Condensed"),
        QStringLiteral("Liberation Sans Narrow"), QStringLiteral("Arial Narrow")};
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), narrow);
    return true;
  }();
  static_cast<void>(done);
}

}  // namespace tgen
