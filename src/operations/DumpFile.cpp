#include "operations/DumpFile.h"

#include "communication/ResultCodes.h"
#include "operations/Operations.h"

#include <string_view>
#include <system_error>

DumpFile::~DumpFile() {
    Close();
}

bool DumpFile::IsOpen() const {
    return file.IsOpen();
}

std::int32_t DumpFile::Failed(const files::FileResult& result, bool onPartial, std::int32_t code) {
    systemError = static_cast<std::int32_t>(result.systemError);
    errorOnPartial = onPartial;
    return code;
}

std::int32_t DumpFile::Open(const std::string& fileName) {
    Close();
    partial.clear();
    partialNamedAfterFile = created = written = emptied = errorOnPartial = false;
    systemError = 0;
    const std::filesystem::path named = files::PathFromName(fileName);
    chosen = files::ReplaceTarget(named);
    bool made = false;
    // Exclusive: a file that another dump is writing stays out of this one's hands.
    if (const files::FileResult result = files::OpenExclusive(chosen, earlier, made); !result) {
        return Failed(result, false, Raw(OP_ERR_FILE_OPEN));
    }
    if (made) {
        file = std::move(earlier);
        path = chosen;
        created = emptied = true;
        return Raw(LINK_OK);
    }
    // An earlier file: it stays held, and as it is, until a complete dump replaces
    // it; one marked read-only is refused here, not at the rename.
    if (const files::FileResult refused = files::RefuseReadOnly(chosen); !refused) {
        earlier = files::File();
        return Failed(refused, false, Raw(OP_ERR_FILE_OPEN));
    }
    partial = chosen;
    partial += DumpPartialSuffix;
    partialNamedAfterFile = chosen == named;
    files::FileResult result = files::OpenExclusive(partial, file, made);
    if (files::NameTooLong(result)) {
        partialNamedAfterFile = false;
        result = files::CreateShortFileBeside(chosen, file, partial);
        made = result.Ok();
    }
    if (!result) {
        earlier = files::File();
        return Failed(result, true, Raw(OP_ERR_FILE_OPEN));
    }
    path = partial;
    created = emptied = made;
    return Raw(LINK_OK);
}

std::int32_t DumpFile::Write(std::span<const std::uint8_t> bytes) {
    written = true;
    if (IsOpen() && !emptied) {
        emptied = true; // from here on the file's earlier content is gone, whatever follows
        if (const files::FileResult result = file.Truncate(); !result) {
            return Failed(result, KeepsEarlier(), Raw(OP_ERR_FILE_WRITE));
        }
    }
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const files::FileResult result = file.Write(text); !result) {
        return Failed(result, KeepsEarlier(), Raw(OP_ERR_FILE_WRITE));
    }
    return Raw(LINK_OK);
}

std::int32_t DumpFile::Finish() {
    if (!IsOpen() || !KeepsEarlier()) {
        Close();
        return Raw(LINK_OK);
    }
    if (const files::FileResult result = files::MoveOver(file, partial, earlier, chosen); !result) {
        return Failed(result, false, Raw(OP_ERR_FILE_WRITE));
    }
    return Raw(LINK_OK);
}

void DumpFile::Close() {
    if (IsOpen() && created && !written) {
        Remove();
    }
    // Closing releases the exclusive access as well.
    file = files::File();
    earlier = files::File();
}

std::int32_t DumpFile::Remove() {
    earlier = files::File();
    if (!IsOpen() || !created) {
        file = files::File();
        return Raw(LINK_OK);
    }
    return static_cast<std::int32_t>(files::RemoveOpenFile(file, path).systemError);
}
