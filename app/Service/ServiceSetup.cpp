#include "app/Service/ServiceSetup.h"

#include "TrelkCore/Library/Library.h"
#include "TrelkCore/Platform/Files.h"
#include "TrelkCore/Service/Server.h"

#include <QSettings>

ServiceSetup ServiceSetup::standard() {
    return {Files::dataHome() / "vorlane Trelk", {Server::ports.begin(), Server::ports.end()}, Library::defaultFolder(),
            QSettings("vorlane", "Trelk").fileName().toStdString()};
}
