"""Makes the build's test PKI in FOLDER (the build's installer_files/pki):
the test CA, a rogue CA and the signers of test_signature's Pki. The build
runs it before it compiles the installer library, which carries the
certificate of the signer "good" as its publisher's, as a release carries
its vendor's; the build's installer files and the tests sign with it.

    python3 build_pki.py FOLDER
"""

import shutil
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from test_signature import Pki  # noqa: E402


def main():
    folder = Path(sys.argv[1]).resolve()
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    Pki(folder)


if __name__ == "__main__":
    main()
