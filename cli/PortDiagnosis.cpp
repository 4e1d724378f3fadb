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
    const PortSettings ports = ReadPortSettings(settings);
    const int speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    SurveyReport report = SurveyPorts(ports.ports, SurveyRoots{}, SurveyUser::Current());
    CheckReadyPorts(report, ports.ports, speed);
    QString text = FormatSurveyText(report);
    for (const QString& line : ports.refused)
        text += line + u'\n';
    WriteConsoleText(stdout, text);
    return 0;
}
