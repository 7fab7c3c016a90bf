import pytest

from shop.pricing import PriceList


@pytest.fixture
def price_list():
    return PriceList({"apple": 0.5, "bread": 2.0})
