#include "UserFleetRun.h"

#include "SettingsFile.h"
#include "UserFolders.h"

FleetRunPlaces UserFleetPlaces(const QString& server) {
    FleetRunPlaces places;
    places.archivesFolder = ArchivesFolder();
    places.stateFolder = StateFolder();
    places.libraryIndexPath = LibraryIndexPath();
    places.server = server;
    return places;
}

FleetOptions SettingsFleetOptions(const SettingsFile& settings, const PortMap& ports) {
    FleetOptions options;
    options.ports = ports;
    options.speed =
        settings.ReadInteger(QStringLiteral("General"), QStringLiteral("COM speed"), 115200);
    return options;
}
