#pragma once

// The images live in a resource file compiled into a static library; an executable
// must register them once before the first use.
void InitUiResources();
