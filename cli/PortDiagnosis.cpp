#include "PortDiagnosis.h"

#include "ConsoleText.h"
#include "PortMap.h"
#include "PortProbe.h"
#include "PortSurvey.h"
#include "SettingsFile.h"
#include "SettingsLocation.h"

int PrintPortDiagnosis() {
    const SettingsLocation where = ProgramSettingsLocation();
    const SettingsFile settings(where.readPath, where.writePath);
    SetPortMap(settings.ReadPorts());
    const int speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    SurveyReport report = SurveyPorts(SurveyRoots{}, SurveyUser::Current());
    CheckReadyPorts(report, speed);
    WriteConsoleText(stdout, FormatSurveyText(report));
    return 0;
}
