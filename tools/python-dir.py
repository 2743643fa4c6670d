# Where make install puts the Python package under a prefix: the directory
# under it where Debian's python3 looks (its dist-packages, or the user's
# site-packages), else lib/python3/dist-packages. Prints it relative to the
# prefix:
#   python-dir.py PREFIX
# or says where the package went and whether python3 finds it there:
#   python-dir.py --where PREFIX DIR
import os
import site
import sys

looked = sys.path + ([site.getusersitepackages()] if site.ENABLE_USER_SITE else [])
if sys.argv[1] == "--where":
    where = os.path.join(sys.argv[2], sys.argv[3])
    found = os.path.abspath(where) in map(os.path.abspath, looked)
    print(f"The Python package: {where}/tarvel" + ("" if found else f" (python3 finds it with PYTHONPATH={where})"))
else:
    prefix = os.path.abspath(sys.argv[1]) + "/lib/"
    print(next((d[len(prefix) - 4:] for d in looked if d.startswith(prefix) and d.endswith("-packages")),
               "lib/python3/dist-packages"))
