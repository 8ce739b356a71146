import sys

from ardo_old.cli import main

sys.exit(main())
