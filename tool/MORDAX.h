#pragma once
#define MORDAX_VERSION "0.5"
