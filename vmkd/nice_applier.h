// The nice applier: the fixed treatments of the nice rules, every five seconds.
#pragma once

// One walk over /proc, applying the matching treatment to every process but init.
void nice_applier_pass();
