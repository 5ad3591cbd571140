#pragma once

// The program's icons are compiled into the Qt shell's static library. The linker drops a static
// library's resource registration unless something asks for it by name; the windows that show the
// icons call this first. Calling it more than once is harmless.
void InitVeiloraResources();
