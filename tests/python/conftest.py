import pytest

from quarn import PyTrace

# The small trace that most access tests read: clk is 1 at index 0 (#0) and
# X at index 1 (#5).
CLK_VCD = "$var wire 1 ! clk $end\n#0\n1!\n#5\nx!\n"


@pytest.fixture
def clk_trace() -> PyTrace:
    return PyTrace.from_vcd_string(CLK_VCD)
