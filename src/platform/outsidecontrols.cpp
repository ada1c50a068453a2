#include "platform/outsidecontrols.h"

#include "platform/browsedialog.h"
#include "platform/commondialog.h"
#include "platform/localinstancelink.h"
#include "platform/messageboxes.h"

#include <QCoreApplication>

OutsideControls createOutsideControls() {
    OutsideControls controls;
    controls.BrowseDialog1 = std::make_unique<BrowseDialog>(QStringLiteral("Kestrix this folder"));
    controls.CommonDialog1 = std::make_unique<CommonDialog>();
    controls.DiskInfo1 = createDiskInfo();
    controls.messageBoxes = std::make_unique<StandardMessageBoxes>();
    controls.programFolder = QCoreApplication::applicationDirPath();
    controls.instances = std::make_unique<LocalInstanceLink>();
    controls.sound = createSoundOutput();
    return controls;
}
