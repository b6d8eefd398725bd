#include "console/WorkerSequence.h"

#include "console/RowRules.h"

namespace tarnwell {

std::string PortName(int portNumber) { return "COM" + std::to_string(portNumber); }

ImagePaths CollectImagePaths(SlotControls& controls, const std::string& partitionPath) {
    ImagePaths images;
    images.paths[static_cast<int>(ImageRow::Partition)] = partitionPath;

    auto single = [&](ImageRow row) {
        const RowState state = controls.ReadRow(row);
        if (!state.ticked) return;
        images.paths[static_cast<int>(row)] = state.path;
        images.anyImageChosen = true;
    };
    auto pair = [&](ImageRow header, ImageRow image) {
        const RowState headerState = controls.ReadRow(header);
        const RowState imageState = controls.ReadRow(image);
        if (!headerState.ticked || !imageState.ticked) return;
        images.paths[static_cast<int>(header)] = headerState.path;
        images.paths[static_cast<int>(image)] = imageState.path;
        images.anyImageChosen = true;
    };

    single(ImageRow::Obl);
    single(ImageRow::Pbl);
    pair(ImageRow::Qcsblhd, ImageRow::Qcsbl);
    pair(ImageRow::Oemsblhd, ImageRow::Oemsbl);
    pair(ImageRow::Amsshd, ImageRow::Amss);
    single(ImageRow::Cefs);
    return images;
}

void RunWorkerSequence(SlotControls& controls, SessionCalls& engine, ProgressCallback callback) {
    const int portNumber = controls.SelectedPortNumber();
    const std::string portName = PortName(portNumber);
    if (portNumber == -1) {
        if (callback != nullptr) callback(kNoPortLine, 0);
        return;
    }

    FennixHandle session = engine.OpenSession(portName.c_str());
    engine.SetCallBack(session, callback);

    const RowState partition = controls.ReadRow(ImageRow::Partition);
    if (!partition.ticked || IsBlankPath(partition.path)) {
        engine.CloseSession(session);
        controls.Warn(kNoPartitionMessage);
        return;
    }

    const ImagePaths images = CollectImagePaths(controls, partition.path);
    if (controls.SkipCheckTicked()) engine.SetSkipCheck(session);
    engine.SetHexFile(session, controls.CurrentProgrammerPath().c_str());

    if (!images.anyImageChosen) {
        engine.CloseSession(session);
        controls.Warn(kNoImageMessage);
        return;
    }
    engine.SetMbnFile(session, images);
    engine.StartDownload(session);
    engine.CloseSession(session);
}

}  // namespace tarnwell
