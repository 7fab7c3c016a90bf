from shop.pricing import discounted, net_price


def test_net_price():
    assert net_price(12.0) == 10.0


def test_discounted():
    assert discounted(10.0, 25) == 7.5
