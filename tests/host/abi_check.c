/* The host interface headers compiled as C, as a host written in C would include them; the sizes
 * and offsets are checked by the headers' own static assertions, here in a C compiler's layout. */
#include <stdio.h>

#include "ExportParamSuite.h"
#include "PostProcessSDK.h"

int main(void) {
    PostProcessCallbacks table = {0};
    HostInstanceRecord record = {{0}, 0, {0}, 0, 0};
    const uint32_t qvrx = VEKTA_FOURCC('Q', 'V', 'R', 'X');
    (void)table;
    (void)record;
    if (qvrx != 0x51565258u) {
        puts("four-character codes must put the first character in the most significant byte");
        return 1;
    }
    puts("1 passed, 0 failed");
    return 0;
}
