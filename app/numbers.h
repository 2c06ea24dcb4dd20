#pragma once

// Number readers for every input box and dialog. Not yet written.
