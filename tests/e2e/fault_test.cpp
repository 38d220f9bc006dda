#include "tests/e2e/driver.h"
