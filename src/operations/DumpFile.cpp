#include "operations/DumpFile.h"

#include "communication/ResultCodes.h"

#include <string_view>

DumpFile::~DumpFile() {
    Close();
}

bool DumpFile::IsOpen() const {
    return file.IsOpen();
}

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    created = false;
    systemError = 0;
    const std::filesystem::path opening = files::PathFromName(fileName);
    bool made = false;
    // Exclusive: a file that another dump is writing stays out of this one's hands.
    if (const files::FileResult result = files::OpenExclusive(opening, file, made); !result) {
        systemError = static_cast<std::int32_t>(result.systemError);
        return Raw(OP_ERR_FILE_OPEN);
    }
    path = opening;
    created = made;
    emptied = made;
    return Raw(LINK_OK);
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    if (IsOpen() && !emptied) {
        emptied = true; // from here on the earlier content is gone, whatever follows
        if (const files::FileResult result = file.Truncate(); !result) {
            systemError = static_cast<std::int32_t>(result.systemError);
            return Raw(OP_ERR_FILE_WRITE);
        }
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const files::FileResult result = file.Write(text); !result) {
        systemError = static_cast<std::int32_t>(result.systemError);
        return Raw(OP_ERR_FILE_WRITE);
    }
    return Raw(LINK_OK);
}

void DumpFile::Close() {
    file = files::File(); // closing releases the exclusive access as well
}

std::int32_t DumpFile::Remove() {
    if (!IsOpen() || !created) {
        Close();
        return Raw(LINK_OK);
    }
    return static_cast<std::int32_t>(files::RemoveOpenFile(file, path).systemError);
}
