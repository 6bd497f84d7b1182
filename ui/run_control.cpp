#include "ui/run_control.h"

int32_t cancelRequested = 0;
int32_t closeRequested = 0;
os::WindowRef dialogHandle = nullptr;

int pumpOneMessage()
{
    return os::calls().pumpOneMessage(dialogHandle);
}

int pumpMessages()
{
    int result = 0;
    try {
        while (pumpOneMessage() != 0) {
        }
    } catch (int) {
        result = 1;
    } catch (...) {
        // Anything else that escapes a message handler ends the drain the
        // same way, and the run treats it as a close request.
        result = 1;
    }
    return result;
}
