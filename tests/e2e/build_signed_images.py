"""Signs a small program with the build's test signers (build_pki.py) for
the unit tests of the checks that judge a file's signer, which cannot sign
under Wine: FOLDER/unsigned.exe and FOLDER/<signer>.exe for "good",
"renewed" and "rogue", with the DER certificates they are judged against
(<signer>.der, ca.der, rogue_ca.der).

    python3 build_signed_images.py PKI_FOLDER PROGRAM FOLDER
"""

import shutil
import subprocess
import sys
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from test_signature import Pki  # noqa: E402

SIGNERS = ("good", "renewed", "rogue")
CERTIFICATES = ("good", "renewed", "rogue", "ca", "rogue_ca")


class BuiltKeys(Pki):
    """The signers build_pki.py made in `folder`: only signed with."""

    def __init__(self, folder):
        self.folder = folder


def main():
    pki, program, folder = (Path(argument).resolve() for argument in sys.argv[1:4])
    if folder.exists():
        shutil.rmtree(folder)
    folder.mkdir(parents=True)
    keys = BuiltKeys(pki)
    unsigned = folder / "unsigned.exe"
    shutil.copyfile(program, unsigned)
    for signer in SIGNERS:
        keys.sign(signer, unsigned, folder / f"{signer}.exe")
    for name in CERTIFICATES:
        subprocess.run(["openssl", "x509", "-in", pki / f"{name}.pem", "-outform", "der",
                        "-out", folder / f"{name}.der"], check=True)


if __name__ == "__main__":
    main()
