#!/usr/bin/env python3
# placeholder
