#include "platform/desktop/outsidecontrols.h"

#include "platform/desktop/browsedialog.h"
#include "platform/desktop/commondialog.h"
#include "platform/desktop/localinstancelink.h"
#include "platform/desktop/messageboxes.h"

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
