#pragma once

// Shown in the banner of every run.
#define MORDAX_VERSION "0.5"
