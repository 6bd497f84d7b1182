#include "update/update_result.h"

const char* updateResultName(UpdateResult result)
{
    switch (result) {
    case UPDATE_OK: return "UPDATE_OK";
    case UPDATE_E_PAYLOAD: return "UPDATE_E_PAYLOAD";
    case UPDATE_E_TOO_MANY_ENTRIES: return "UPDATE_E_TOO_MANY_ENTRIES";
    case UPDATE_E_FILE_IO: return "UPDATE_E_FILE_IO";
    case UPDATE_E_UNINSTALL_LIST: return "UPDATE_E_UNINSTALL_LIST";
    case UPDATE_E_CANCELLED: return "UPDATE_E_CANCELLED";
    case UPDATE_E_CLOSED: return "UPDATE_E_CLOSED";
    }
    return "unknown";
}
