// Another instance of the program on the same preferences file:
//   settings_store_worker <ini> <prefix> <count>   saves <prefix>0 … one by one
#include "settings/ScopeSettings.h"

#include <QCoreApplication>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return 2;  // never the user's own store
    ScopeSettings settings(std::make_shared<QSettingsStore>(args[1]));
    for (int i = 0; i < args[3].toInt(); ++i)
        settings.savePreset(args[2] + QString::number(i));
    return 0;
}
