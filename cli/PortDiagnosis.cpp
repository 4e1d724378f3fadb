#include "PortDiagnosis.h"

#include "ConsoleText.h"
#include "PortProbe.h"
#include "PortSettings.h"
#include "PortSurvey.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"

int PrintPortDiagnosis() {
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    const QStringList refused = UsePortSettings(settings);
    const int speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    SurveyReport report = SurveyPorts(SurveyRoots{}, SurveyUser::Current());
    CheckReadyPorts(report, speed);
    QString text = FormatSurveyText(report);
    for (const QString& line : refused)
        text += line + u'\n';
    WriteConsoleText(stdout, text);
    return 0;
}
