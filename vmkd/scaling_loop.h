// The sscaling process: rewrites CPU lists and frequency limits from the load.
#pragma once

[[noreturn]] void scaling_loop();
