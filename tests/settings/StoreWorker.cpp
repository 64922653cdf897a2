// A second program writing the same preferences file, for the tests of
// concurrent and interrupted writes.
//   settings_store_worker <ini> save <prefix> <count>   saves <prefix>0 … one by one
//   settings_store_worker <ini> churn <records>          rewrites the whole list forever
#include "settings/ScopeSettings.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 4)
        return 2;
    ScopeSettings settings(std::make_shared<QSettingsStore>(args[1]));
    if (args[2] == QLatin1StringView("save") && args.size() == 5) {
        settings.loadLastSession();
        const int count = args[4].toInt();
        for (int i = 0; i < count; ++i) {
            settings.setDecay(0.5f + 0.01f * float(i));
            settings.savePreset(args[3] + QString::number(i));
            settings.saveLastSession();
        }
        return 0;
    }
    if (args[2] == QLatin1StringView("churn")) {
        const int records = args[3].toInt();
        for (int generation = 0;; ++generation) {
            QList<Preset> presets;
            for (int i = 0; i < records; ++i)
                presets.append(settings.snapshot(QStringLiteral("g%1-%2").arg(generation).arg(i)));
            settings.setSavedPresets(presets);
            settings.persistPresets();
            if (generation == 0) {
                std::puts("ready");
                std::fflush(stdout);
            }
        }
    }
    return 2;
}
