#include "communication/ResultCodes.h"

const char* LinkErrorMessage(std::int32_t code) {
    switch (code) {
    case LINK_ERR_COMMAND:
        return "Wellscribe Command Error";
    case LINK_ERR_DATA:
    case LINK_ERR_NO_PORT:
        return "Data Corrupted! Use utility to do a memory dump.";
    case LINK_ERR_TIMEOUT:
        return "Communication Time Out! Check COM Port";
    case LINK_ERR_CRC:
    case LINK_ERR_ACK:
        return "Communication Error! Check Cable Connection";
    default:
        return "Internal Error";
    }
}

std::string LinkErrorText(std::int32_t code) {
    return std::to_string(code) + " " + LinkErrorMessage(code);
}
