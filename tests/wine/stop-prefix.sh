#!/bin/bash
# Ends every process of a test prefix (services included), so the next run starts clean.
WINEPREFIX=$1 wineserver -k 2>/dev/null
exit 0
